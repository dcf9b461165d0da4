// Command-line driver: loads the effect through the in-process host and runs
// it through the commands it answers today, printing what the effect reported
// and how long each step took.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "OpenGL/OpenGL.h"
#include "host/HandleSuite.h"
#include "host/Host.h"
#include "host/SuiteRegistry.h"

namespace {

std::string FourCC(A_long v) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) s += char((v >> shift) & 0xff);
    return s;
}

std::string Flags(A_long v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", unsigned(v));
    return buf;
}

template <typename F>
PF_Err Timed(const char* label, F&& step) {
    auto start = std::chrono::steady_clock::now();
    PF_Err err = step();
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("  %-18s -> %d  (%.2f ms)\n", label, int(err), ms);
    return err;
}

int Usage() {
    std::fprintf(stderr, "usage: umbrafex-render [--module PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string module = UMBRAFEX_MODULE_PATH;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--module") && i + 1 < argc)
            module = argv[++i];
        else
            return Usage();
    }

    host::Host host;
    if (!host.Load(module)) {
        std::fprintf(stderr, "umbrafex-render: %s\n", host.Error().c_str());
        return 1;
    }
    const auto& reg = host.GetRegistration();
    std::printf("Loaded %s\n", module.c_str());
    std::printf("Registered \"%s\" (match \"%s\", category \"%s\", entry \"%s\", kind '%s', API %d.%d, info %d)\n",
                reg.name.c_str(), reg.match_name.c_str(), reg.category.c_str(), reg.entry_point.c_str(),
                FourCC(reg.kind).c_str(), int(reg.api_major), int(reg.api_minor), int(reg.reserved_info));

    std::printf("Commands:\n");
    int failures = 0;
    failures += Timed("global setup", [&] { return host.GlobalSetup(); }) != PF_Err_NONE;
    A_u_long version = host.Out().my_version;
    std::printf("  version 0x%05x, out_flags %s, out_flags2 %s\n", unsigned(version),
                Flags(host.Out().out_flags).c_str(), Flags(host.Out().out_flags2).c_str());
    failures += Timed("about", [&] { return host.About(); }) != PF_Err_NONE;
    std::printf("----\n%s----\n", host.Out().return_msg);
    failures += Timed("sequence setup", [&] { return host.SequenceSetup(); }) != PF_Err_NONE;
    failures += Timed("sequence flatten", [&] { return host.SequenceFlatten(); }) != PF_Err_NONE;
    failures += Timed("sequence setdown", [&] { return host.SequenceSetdown(); }) != PF_Err_NONE;
    failures += Timed("global setdown", [&] { return host.GlobalSetdown(); }) != PF_Err_NONE;

    auto& suites = host::SuiteRegistry::Instance();
    auto& handles = host::HandleTable::Instance();
    std::printf("Host books: %ld suite acquire(s) outstanding, %zu handle(s) alive, %ld lock(s) held\n",
                suites.Outstanding(), handles.Alive(), handles.LocksHeld());
    std::printf("Rendering frames is not available yet: the effect answers its commands but draws no shadow.\n");
    bool clean = suites.Outstanding() == 0 && handles.Alive() == 0 && handles.LocksHeld() == 0;
    return failures || !clean ? 1 : 0;
}
