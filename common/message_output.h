// Message output: printf-style formatting to standard output.
#pragma once

// Formats one message and writes it to standard output as UTF-8.
// Conversions: "%ws" inserts a UTF-16 text (an unpaired surrogate becomes
// U+FFFD), "%s" a narrow text, "%d" an int, "%u" an unsigned int and "%%" a
// percent sign; anything else after "%" is written as it stands. A null text
// is written as "(null)".
void PrintMessage(const char* format, ...);
