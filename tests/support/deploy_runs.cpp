#include "tests/support/deploy_runs.h"

#include "deploy/observer.h"
#include "preflight/journal.h"
#include "tests/support/machines.h"

namespace testsupport {

simulator::Machine TwoAdapters()
{
    return MachineOf({NetDevice("Corvane Wireless", "PCI", "0001"), NetDevice("Corvane Wi-Fi", "USB", "0005")});
}

simulator::Key JournalKey(const std::vector<std::pair<std::string, std::u16string>>& entries)
{
    simulator::Key journal;
    journal.Path = JOURNAL_KEY;
    for (const auto& [instance, id] : entries) {
        journal.Values.emplace_back(simulator::Utf8ToUtf16(std::string(NET_CLASS_KEY) + "\\" + instance),
                                    simulator::Value{platform::REG_SZ, simulator::TextBytes(id)});
    }
    return journal;
}

std::vector<std::pair<std::u16string, simulator::Value>> JournalOf(const simulator::Machine& machine)
{
    const simulator::Key* journal = KeyOf(machine, JOURNAL_KEY);
    return journal != nullptr ? journal->Values : std::vector<std::pair<std::u16string, simulator::Value>>{};
}

namespace {

// The observer over the double, while a run lasts (a kill point included);
// the double's own table again after it.
class Observing {
public:
    Observing() { platform::UseOperations(&observer::ObservedOperations(simulator::PlatformOperations())); }
    Observing(const Observing&) = delete;
    Observing& operator=(const Observing&) = delete;
    ~Observing() { platform::UseOperations(&simulator::PlatformOperations()); }
};

} // namespace

int Deploy(const simulator::Machine& machine, const char16_t* command, FakeDeploySystem* system)
{
    simulator::Install(machine);
    observer::Reset(); // as in a new process
    const platform::WCHAR* argv[] = {u"tessary-deploy.exe", command, nullptr};
    Observing observing;
    return RunDeploy(2, argv, system);
}

std::uint64_t ReadOf(const simulator::Machine& machine, const char* index, std::size_t which, const char* property)
{
    FakeDeploySystem system;
    (void)Deploy(machine, u"/a", &system);
    std::uint64_t reads = 0;
    for (const simulator::Call& call : simulator::Trace()) {
        if (call.Operation != (property == nullptr ? "CM_Get_DevNode_Status" : "SetupDiGetDeviceRegistryPropertyW")) {
            continue;
        }
        ++reads;
        if (call.Argument("index") == index && (property == nullptr || call.Argument("property") == property) &&
            which-- == 0) {
            return reads;
        }
    }
    return 0;
}

} // namespace testsupport
