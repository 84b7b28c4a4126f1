#pragma once
// The deterministic bytes that the demo service's transfer endpoints send
// (/t/file, /t/chunked, ...): byte i of every body is demoTransferByte(i), so
// a test or the benchmark can check a download without keeping a copy.
#include <QByteArray>

#include <cstdint>

namespace dh::demo {

std::uint8_t demoTransferByte(std::uint64_t offset);
QByteArray demoTransferBytes(std::uint64_t offset, std::uint64_t length);

} // namespace dh::demo
