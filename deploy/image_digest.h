// The parts of a Windows executable that its Authenticode digest covers: the
// whole file but its checksum, the certificate table's entry in the data
// directories and the certificate table, padded with zeros to a multiple of
// 8 bytes. Signing a file leaves this digest as it was, so a digest taken at
// build time still names the file once it is signed; scripts/pe-image.py
// takes the same digest at build time.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct ImageDigestPlan {
    std::vector<std::pair<std::size_t, std::size_t>> Ranges; // offset and length, in order
    std::size_t Padding = 0;                                 // zero bytes hashed after them
};

// The plan for an image's bytes; false, with the reason, when they are not a
// PE image whose headers lie within them.
bool PlanImageDigest(const std::string& image, ImageDigestPlan* plan, std::string* problem);
