#pragma once

#include <sys/resource.h>

// Processor time so far, in seconds: of the calling thread (the tool runs on
// it) and of the whole process (the simulated line's thread included).
struct CpuTime {
    double tool = 0;
    double process = 0;

    static CpuTime now()
    {
        const auto seconds = [](int who) {
            rusage u{};
            getrusage(who, &u);
            return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        return {seconds(RUSAGE_THREAD), seconds(RUSAGE_SELF)};
    }
    CpuTime operator-(const CpuTime &o) const { return {tool - o.tool, process - o.process}; }
};

// Which modes a benchmark runs: "fast", "written" or both (no argument).
inline bool wanted(int argc, char **argv, bool fast)
{
    if (argc < 2)
        return true;
    const char *m = argv[1];
    return (fast && m[0] == 'f') || (!fast && m[0] == 'w') || m[0] == 'b';
}
