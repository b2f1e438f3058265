#include "preflight/save_target.h"

#include "common/unicode.h"

namespace {

bool IsSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

// Whether the text is the name, in any letter case.
bool SameLetters(const std::u16string& text, const char16_t* name)
{
    std::size_t i = 0;
    for (; i < text.size() && name[i] != u'\0'; ++i) {
        if (AsciiLowerUnit(text[i]) != AsciiLowerUnit(name[i])) {
            return false;
        }
    }
    return i == text.size() && name[i] == u'\0';
}

// The device a last part of a path names, as Windows reads it: the part
// before the first dot, without trailing spaces; "" for none.
std::u16string DeviceNamed(const std::u16string& name)
{
    std::u16string base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') {
        base.pop_back();
    }
    for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (SameLetters(base, device)) {
            return base;
        }
    }
    if (base.size() == 4 && (SameLetters(base.substr(0, 3), u"COM") || SameLetters(base.substr(0, 3), u"LPT"))) {
        char16_t digit = base[3];
        if ((digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3') {
            return base;
        }
    }
    return u"";
}

bool Refuse(const std::string& reason, std::string* problem)
{
    *problem = reason;
    return false;
}

} // namespace

bool CheckSaveName(const std::u16string& path, std::string* problem)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        bool high = path[i] >= 0xD800 && path[i] <= 0xDBFF;
        bool low = path[i] >= 0xDC00 && path[i] <= 0xDFFF;
        if (high && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            return Refuse("holds half of a UTF-16 surrogate pair, which a name shown or written would lose; "
                          "use another name",
                          problem);
        }
    }
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && IsSeparator(path[3]) &&
        (path[2] == u'.' || path[2] == u'?')) {
        std::u16string rest = path.substr(4);
        bool drive = rest.size() >= 3 && rest[1] == u':' && IsSeparator(rest[2]);
        bool unc = rest.size() >= 4 && SameLetters(rest.substr(0, 3), u"UNC") && IsSeparator(rest[3]);
        if (path[2] == u'.' || (!drive && !unc)) {
            return Refuse("is a device path, not a file's; give a file on a drive or a share", problem);
        }
    }
    std::size_t start = path.size();
    while (start > 0 && !IsSeparator(path[start - 1])) {
        --start;
    }
    std::u16string name = path.substr(start);
    if (start == 0 && name.size() >= 2 && name[1] == u':') {
        name = name.substr(2); // a drive's current folder, as in D:snapshot.json
    }
    if (name.empty() || name == u"." || name == u"..") {
        return Refuse("names a folder, not a file", problem);
    }
    std::u16string device = DeviceNamed(name);
    if (!device.empty()) {
        return Refuse("is the device " + Utf16ToUtf8(device.data(), device.size()) +
                          " to Windows, not a file; use another name",
                      problem);
    }
    if (name.back() == u'.' || name.back() == u' ') {
        return Refuse("ends in a dot or a space, which Windows drops from a file's name; use another name", problem);
    }
    for (char16_t unit : name) {
        if (unit == u':') {
            return Refuse("holds a colon, which would write a stream of another file; use another name", problem);
        }
        if (unit < 0x20 || unit == u'<' || unit == u'>' || unit == u'"' || unit == u'|' || unit == u'?' ||
            unit == u'*') {
            return Refuse("holds a character no Windows file name may have; use another name", problem);
        }
    }
    return true;
}
