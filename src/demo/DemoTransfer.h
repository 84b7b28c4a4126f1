#pragma once
// The deterministic bytes that the demo service's transfer endpoints send
// (/t/file, /t/chunked, ...): byte i of every body is demoTransferByte(i), so
// a test or the benchmark can check a download without keeping a copy.
// /t/file?v=TEXT serves another version of the file: its byte i is
// demoTransferByte(demoTransferOrigin(TEXT) + i).
#include <QByteArray>

#include <cstdint>
#include <string>
#include <string_view>

namespace dh::demo {

struct DemoState;

std::uint8_t demoTransferByte(std::uint64_t offset);
QByteArray demoTransferBytes(std::uint64_t offset, std::uint64_t length);

// Where version `version` of a /t/file body starts in the byte stream; 0 for
// the empty version (no ?v=), so plain /t/file bodies stay demoTransferBytes(0, size).
std::uint64_t demoTransferOrigin(std::string_view version);

// What the transfer routes have served since the service started or the
// counts were last reset (also readable as JSON from /t/counters).
struct PathCounts {
    std::uint64_t requests = 0;   // requests of the path (query left aside), whatever the answer
    std::uint64_t bodyBytes = 0;  // body bytes sent for it
};
struct HostCounts {
    int current = 0;  // /t/file bodies being sent to clients that named this Host
    int maximum = 0;  // the most at once
};
PathCounts transferPathCounts(DemoState& state, const std::string& path);
HostCounts transferHostCounts(DemoState& state, const std::string& host);
void resetTransferCounts(DemoState& state);

} // namespace dh::demo
