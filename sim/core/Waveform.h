// The simulated generators' waveform file. Text header lines, then the samples, then a checksum:
//
//   KORVEL WAVEFORM 1\n
//   kind dc\n                 only constant-I/Q ("DC") waveforms are playable here
//   clock-hz <Hz>\n
//   samples <n>\n             1 to 4096
//   data <4n>\n
//   <n samples: I and Q as signed 16-bit little-endian, all equal, not both zero>
//   \ncrc32 <8 lower-case hex digits of the CRC-32 of the sample bytes>\n
//
// Nothing may follow. The carrier takes the phase of the constant I/Q point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

struct WaveformInfo {
    double clockHz = 0.0;
    int samples = 0;
    double phaseDeg = 0.0;   // of the I/Q point
    double magnitude = 0.0;  // of the I/Q point, full scale = 1
};

// Nothing (and why, in error) when bytes are not a playable waveform file.
std::optional<WaveformInfo> ParseWaveform(std::string_view bytes, std::string* error = nullptr);

// A valid DC waveform file: the I/Q point at i, q (full scale = 1).
std::string MakeDcWaveform(double i = 0.5, double q = 0.0, int samples = 16, double clockHz = 1e6);

std::uint32_t Crc32(std::string_view bytes);

}  // namespace sim
