// Small text helpers over zero-terminated UTF-16 text.
#pragma once

#include "common/types.h"

// Sets every code unit of the field to zero.
void ClearTextField(TextField* field);

// Counts the code units of text before its terminator, looking at no more
// than limit units; answers limit when none of them is the terminator.
platform::DWORD BoundedTextLength(const platform::WCHAR* text, platform::DWORD limit);

// True when text begins with prefix, code unit for code unit.
platform::BOOL TextStartsWith(const platform::WCHAR* text, const platform::WCHAR* prefix);

// True when needle stands somewhere in text, code unit for code unit.
platform::BOOL TextContains(const platform::WCHAR* text, const platform::WCHAR* needle);
