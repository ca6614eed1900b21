#include "ua_types.h"

#include <chrono>
#include <cstdio>

namespace hublet::ua {

namespace {

// 100 ns ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000;

std::string base64(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const auto n = (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16) |
                   (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8) |
                   static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t n = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
    if (rest == 2) n |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

DateTime now_utc() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
  return DateTime{ticks + kUnixEpochTicks};
}

std::string identifier_text(const NodeId& id) {
  switch (id.kind) {
    case NodeId::Kind::kNumeric:
      return std::to_string(id.numeric);
    case NodeId::Kind::kString:
      return id.text;
    case NodeId::Kind::kGuid: {
      char buf[40];
      const Guid& g = id.guid;
      std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.data1, g.data2,
                    g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5],
                    g.data4[6], g.data4[7]);
      return buf;
    }
    case NodeId::Kind::kOpaque:
      return base64(id.text);
  }
  return {};
}

std::string to_string(const NodeId& id) {
  std::string out;
  if (id.namespace_index != 0) out = "ns=" + std::to_string(id.namespace_index) + ";";
  static constexpr const char* kPrefix[] = {"i=", "s=", "g=", "b="};
  return out + kPrefix[static_cast<int>(id.kind)] + identifier_text(id);
}

std::string status_text(std::uint32_t code) {
  struct Known {
    std::uint32_t code;
    const char* name;
  };
  static constexpr Known kKnown[] = {
      {0x00000000, "Good"},
      {0x80010000, "BadUnexpectedError"},
      {0x80020000, "BadInternalError"},
      {0x80030000, "BadOutOfMemory"},
      {0x80040000, "BadResourceUnavailable"},
      {0x80050000, "BadCommunicationError"},
      {0x80060000, "BadEncodingError"},
      {0x80070000, "BadDecodingError"},
      {0x80080000, "BadEncodingLimitsExceeded"},
      {0x800A0000, "BadTimeout"},
      {0x800B0000, "BadServiceUnsupported"},
      {0x800C0000, "BadShutdown"},
      {0x800E0000, "BadServerHalted"},
      {0x800F0000, "BadNothingToDo"},
      {0x80100000, "BadTooManyOperations"},
      {0x801F0000, "BadUserAccessDenied"},
      {0x80200000, "BadIdentityTokenInvalid"},
      {0x80210000, "BadIdentityTokenRejected"},
      {0x80220000, "BadSecureChannelIdInvalid"},
      {0x80240000, "BadNonceInvalid"},
      {0x80250000, "BadSessionIdInvalid"},
      {0x80260000, "BadSessionClosed"},
      {0x80270000, "BadSessionNotActivated"},
      {0x802A0000, "BadRequestHeaderInvalid"},
      {0x80330000, "BadNodeIdInvalid"},
      {0x80340000, "BadNodeIdUnknown"},
      {0x80350000, "BadAttributeIdInvalid"},
      {0x803A0000, "BadNotReadable"},
      {0x803B0000, "BadNotWritable"},
      {0x803C0000, "BadOutOfRange"},
      {0x803D0000, "BadNotSupported"},
      {0x804A0000, "BadContinuationPointInvalid"},
      {0x80560000, "BadTooManySessions"},
      {0x80730000, "BadWriteNotSupported"},
      {0x80740000, "BadTypeMismatch"},
      {0x807E0000, "BadTcpMessageTypeInvalid"},
      {0x807F0000, "BadTcpSecureChannelUnknown"},
      {0x80800000, "BadTcpMessageTooLarge"},
      {0x80810000, "BadTcpNotEnoughResources"},
      {0x80820000, "BadTcpInternalError"},
      {0x80830000, "BadTcpEndpointUrlInvalid"},
      {0x80860000, "BadSecureChannelClosed"},
      {0x80870000, "BadSecureChannelTokenUnknown"},
      {0x80880000, "BadSequenceNumberInvalid"},
      {0x80B80000, "BadRequestTooLarge"},
      {0x80B90000, "BadResponseTooLarge"},
      {0x80BE0000, "BadProtocolVersionUnsupported"},
  };
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  for (const Known& k : kKnown) {
    if (k.code == code) return std::string(k.name) + " (" + hex + ")";
  }
  return hex;
}

}  // namespace hublet::ua
