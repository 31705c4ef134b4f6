// The benchmark FASTQ: 150-base reads with sequencer-style headers and a comment, mostly high
// qualities with a few low ones, as sequencers give.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

// Writes about `want` bytes of FASTQ to f and returns the byte count.
inline int64_t writeBenchFastq(std::FILE *f, int64_t want) {
    std::mt19937 rng(7);
    std::vector<std::string> reads, quals;
    for (int i = 0; i < 1024; ++i) {
        std::string r, q;
        for (int k = 0; k < 150; ++k) {
            r += "ACGT"[rng() % 4];
            q += static_cast<char>(33 + (rng() % 8 == 0 ? 2 + rng() % 20 : 30 + rng() % 12));
        }
        reads.push_back(r);
        quals.push_back(q);
    }
    std::vector<char> chunk;
    char header[128];
    int64_t size = 0;
    for (int64_t n = 0; size < want; ++n) {
        const int len = std::snprintf(
            header, sizeof header, "@M04211:137:000000000-K7L2P:1:%ld:%ld:%ld 1:N:0:1\n",
            static_cast<long>(1101 + n / 4000000), static_cast<long>(1000 + (n * 7919) % 28000),
            static_cast<long>(1000 + (n * 104729) % 27000));
        const std::string &r = reads[n % 1024], &q = quals[(n * 31) % 1024];
        chunk.insert(chunk.end(), header, header + len);
        chunk.insert(chunk.end(), r.begin(), r.end());
        chunk.insert(chunk.end(), {'\n', '+', '\n'});
        chunk.insert(chunk.end(), q.begin(), q.end());
        chunk.push_back('\n');
        size += len + 2 * 150 + 4;
        if (chunk.size() > (4 << 20)) {
            std::fwrite(chunk.data(), 1, chunk.size(), f);
            chunk.clear();
        }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
    return size;
}
