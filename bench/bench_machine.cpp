#include "bench/bench_machine.h"

#include "tests/support/machines.h"

namespace {

const char* const OTHER_CLASS_KEY = "{36fc9e60-c465-11cf-8056-444553540000}";

std::string Instance(std::size_t index)
{
    std::string number = std::to_string(index);
    return std::string(number.size() < 6 ? 6 - number.size() : 0, '0') + number;
}

// A device of another kind: its class, bus, driver key and description.
simulator::Device Other(const char* className, const char* enumerator, const std::string& driver,
                        const char* description)
{
    simulator::Device device;
    device.Properties[simulator::SLOT_CLASS] = testsupport::TextProperty(className);
    device.Properties[simulator::SLOT_ENUMERATOR] = testsupport::TextProperty(enumerator);
    device.Properties[simulator::SLOT_DRIVER] = testsupport::TextProperty(driver);
    device.Properties[simulator::SLOT_DESCRIPTION] = testsupport::TextProperty(description);
    return device;
}

} // namespace

simulator::Machine BenchMachine(std::size_t devices)
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
    simulator::Machine machine;
    machine.Devices.reserve(devices);
    for (std::size_t i = 0; i < devices; ++i) {
        std::size_t kind = i % 100;
        std::string driver = std::string(testsupport::NET_CLASS_KEY) + "\\" + Instance(i);
        if (kind == 50) {
            // The adapters are the tests' own, so that they have every
            // property the scan reads; each has a driver key with a value.
            bool pci = (i / 100) % 2 == 0;
            machine.Devices.push_back(testsupport::NetDevice(pci ? "Corvane AX210 Wireless Network Adapter"
                                                                 : "Corvane AC600 Wi-Fi USB Adapter",
                                                             pci ? "PCI" : "USB", Instance(i)));
            machine.Registry.push_back(testsupport::DriverKey(driver));
            machine.Registry.back().Values.emplace_back(u"DriverDesc",
                                                        simulator::Value{1, simulator::TextBytes(u"Corvane wireless")});
        } else if (kind % 10 == 3) {
            const auto& network = otherNetworks[(i / 10) % 4];
            machine.Devices.push_back(Other("Net", network[0], driver, network[1]));
        } else {
            const auto& other = otherClasses[i % 6];
            machine.Devices.push_back(
                Other(other[0], other[1], std::string(OTHER_CLASS_KEY) + "\\" + Instance(i), other[2]));
        }
    }
    return machine;
}
