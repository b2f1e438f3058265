// Writes a benchmark machine file: make_machine DEVICES FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bench/bench_machine.h"
#include "machine_file/machine_file.h"

int main(int argc, char** argv)
{
    if (argc != 3 || std::atol(argv[1]) <= 0) {
        (void)std::fprintf(stderr, "usage: make_machine DEVICES FILE\n");
        return 2;
    }
    simulator::Machine machine = BenchMachine(static_cast<std::size_t>(std::atol(argv[1])));
    std::ofstream(argv[2], std::ios::binary) << simulator::MachineDocument(machine, "").dump(1) << "\n";
    return 0;
}
