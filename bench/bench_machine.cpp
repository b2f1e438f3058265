#include "bench/bench_machine.h"

#include <nlohmann/json.hpp>

namespace {

const char* const NET_KEY = "{4d36e972-e325-11ce-bfc1-08002be10318}\\";
const char* const CLASS_PREFIX = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

std::string Instance(std::size_t index)
{
    std::string number = std::to_string(index);
    return std::string(number.size() < 6 ? 6 - number.size() : 0, '0') + number;
}

} // namespace

std::string BenchMachineJson(std::size_t devices)
{
    static const char* const otherClasses[][3] = {
        {"System", "ACPI", "PCI Express Root Port"}, {"HIDClass", "HID", "HID-compliant consumer control device"},
        {"USB", "USB", "USB Composite Device"},      {"DiskDrive", "SCSI", "Samsung SSD 980 PRO 1TB"},
        {"MEDIA", "HDAUDIO", "Realtek(R) Audio"},    {"Monitor", "DISPLAY", "Generic PnP Monitor"},
    };
    static const char* const otherNetworks[][2] = {
        {"PCI", "Corvane 2.5GbE Family Controller"},
        {"PCI", "Intel(R) Wi-Fi 6E AX211 160MHz"},
        {"ROOT", "WAN Miniport (IKEv2)"},
        {"SWD", "Microsoft Wi-Fi Direct Virtual Adapter"},
    };
    nlohmann::ordered_json machine;
    machine["devices"] = nlohmann::ordered_json::array();
    machine["registry"] = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < devices; ++i) {
        nlohmann::ordered_json device;
        std::size_t kind = i % 100;
        if (kind == 50) {
            std::string driver = NET_KEY + Instance(i);
            device["class"] = "Net";
            device["enumerator"] = (i / 100) % 2 == 0 ? "PCI" : "USB";
            device["driver"] = driver;
            device["description"] =
                (i / 100) % 2 == 0 ? "Corvane AX210 Wireless Network Adapter" : "Corvane AC600 Wi-Fi USB Adapter";
            machine["registry"][CLASS_PREFIX + driver]["values"]["DriverDesc"] = "Corvane wireless";
        } else if (kind % 10 == 3) {
            const auto& network = otherNetworks[(i / 10) % 4];
            device["class"] = "Net";
            device["enumerator"] = network[0];
            device["driver"] = NET_KEY + Instance(i);
            device["description"] = network[1];
        } else {
            const auto& other = otherClasses[i % 6];
            device["class"] = other[0];
            device["enumerator"] = other[1];
            device["driver"] = std::string("{36fc9e60-c465-11cf-8056-444553540000}\\") + Instance(i);
            device["description"] = other[2];
        }
        machine["devices"].push_back(device);
    }
    return machine.dump(1);
}
