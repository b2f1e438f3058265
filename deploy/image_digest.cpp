#include "deploy/image_digest.h"

#include <cstdint>

namespace {

std::uint32_t Read(const std::string& image, std::size_t at, std::size_t bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = bytes; i > 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(image[at + i - 1]);
    }
    return value;
}

} // namespace

bool PlanImageDigest(const std::string& image, ImageDigestPlan* plan, std::string* problem)
{
    if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) {
        *problem = "is not an executable (no MZ header)";
        return false;
    }
    std::size_t pe = Read(image, 0x3C, 4);
    if (pe > image.size() - 26 || image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        *problem = "is not a PE image";
        return false;
    }
    std::size_t optional = pe + 24;
    std::uint32_t magic = Read(image, optional, 2);
    if (magic != 0x10B && magic != 0x20B) {
        *problem = "has an unknown optional header";
        return false;
    }
    std::size_t checksum = optional + 64;
    // The certificate table's entry: the fifth data directory, of 8 bytes each.
    std::size_t security = optional + (magic == 0x10B ? 96 : 112) + 32;
    if (security + 8 > image.size()) {
        *problem = "has its data directories cut short";
        return false;
    }
    std::size_t table = Read(image, security, 4);
    std::size_t end = Read(image, security + 4, 4) != 0 ? table : image.size();
    if (end > image.size() || end < security + 8) {
        *problem = "has a certificate table outside the file";
        return false;
    }
    plan->Ranges = {{0, checksum}, {checksum + 4, security - checksum - 4}, {security + 8, end - security - 8}};
    plan->Padding = (8 - end % 8) % 8;
    return true;
}
