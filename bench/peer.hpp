#pragma once
// The peer a Linux user would otherwise run: ffmpeg's x264 with our settings on a synthetic 1080p60
// source, measured as CPU per frame of the child process.

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace mirravale::bench {

// CPU time (user + system) of this process or of its waited-for children.
inline double cpu_seconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline constexpr int PEER_FRAMES = 600;  // ten seconds at 60 fps

// Milliseconds of CPU per frame, or a negative number when ffmpeg did not run.
inline double peer_cpu_ms_per_frame() {
    const double before = cpu_seconds(RUSAGE_CHILDREN);
    const int status = std::system(
        "ffmpeg -loglevel error -nostdin -f lavfi -i testsrc2=size=1920x1080:rate=60 -t 10 "
        "-c:v libx264 -preset ultrafast -tune zerolatency -pix_fmt yuv420p -f null -");
    if (status != 0) {
        std::printf("peer: ffmpeg did not run (status %d)\n", status);
        return -1;
    }
    return (cpu_seconds(RUSAGE_CHILDREN) - before) * 1000.0 / PEER_FRAMES;
}

}  // namespace mirravale::bench
