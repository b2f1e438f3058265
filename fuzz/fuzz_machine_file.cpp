// Fuzzes the machine-file loader with arbitrary bytes: it answers a machine
// or one clear error of bounded length, never a crash.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/sim/machine_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    simulator::MachineFile file;
    std::string error;
    if (simulator::LoadMachineText(text, "fuzz.json", &file, &error)) {
        // A machine that no run changed is written back as it was read.
        nlohmann::ordered_json document = file.Document;
        if (!error.empty() || simulator::UpdateDocument(&document, file.Loaded) || document != file.Document) {
            (void)std::fprintf(stderr, "an unchanged machine would not be written back as read\n");
            __builtin_trap();
        }
    } else if (error.rfind("machine file 'fuzz.json': ", 0) != 0 || error.find('\n') != std::string::npos ||
               error.size() > 1000) {
        (void)std::fprintf(stderr, "not one clear error: %s\n", error.c_str());
        __builtin_trap();
    }
    return 0;
}
