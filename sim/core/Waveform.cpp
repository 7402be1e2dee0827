#include "Waveform.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

#include "Bench.h"

namespace sim {

namespace {

constexpr std::string_view kMagic = "KORVEL WAVEFORM 1\n";
constexpr int kMaxSamples = 4096;

std::optional<WaveformInfo> Invalid(std::string* error, const char* why) {
    if (error)
        *error = why;
    return std::nullopt;
}

// Reads "<key> <value>\n" at pos into value.
bool ReadLine(std::string_view bytes, size_t& pos, std::string_view key, std::string_view& value) {
    const size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos)
        return false;
    const std::string_view line = bytes.substr(pos, end - pos);
    if (line.size() <= key.size() + 1 || line.substr(0, key.size()) != key ||
        line[key.size()] != ' ')
        return false;
    value = line.substr(key.size() + 1);
    pos = end + 1;
    return true;
}

bool ReadInteger(std::string_view text, long long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::int16_t Sample(std::string_view bytes, size_t offset) {
    const auto low = static_cast<unsigned char>(bytes[offset]);
    const auto high = static_cast<unsigned char>(bytes[offset + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::optional<WaveformInfo> ParseWaveform(std::string_view bytes, std::string* error) {
    if (bytes.substr(0, kMagic.size()) != kMagic)
        return Invalid(error, "not a waveform file");
    size_t pos = kMagic.size();
    std::string_view value;
    if (!ReadLine(bytes, pos, "kind", value))
        return Invalid(error, "no kind line");
    if (value != "dc")
        return Invalid(error, "only dc waveforms play");

    WaveformInfo info;
    long long number = 0;
    if (!ReadLine(bytes, pos, "clock-hz", value) || !ReadInteger(value, number) || number < 1 ||
        number > 1000000000) {
        return Invalid(error, "bad clock-hz line");
    }
    info.clockHz = static_cast<double>(number);
    if (!ReadLine(bytes, pos, "samples", value) || !ReadInteger(value, number) || number < 1 ||
        number > kMaxSamples) {
        return Invalid(error, "bad samples line");
    }
    info.samples = static_cast<int>(number);
    const size_t dataBytes = static_cast<size_t>(info.samples) * 4;
    if (!ReadLine(bytes, pos, "data", value) || !ReadInteger(value, number) ||
        number != static_cast<long long>(dataBytes)) {
        return Invalid(error, "data length does not match the samples");
    }
    if (bytes.size() - pos < dataBytes)
        return Invalid(error, "truncated samples");
    const std::string_view data = bytes.substr(pos, dataBytes);
    pos += dataBytes;

    char trailer[32];
    std::snprintf(trailer, sizeof trailer, "\ncrc32 %08x\n", static_cast<unsigned>(Crc32(data)));
    if (bytes.substr(pos) != trailer)
        return Invalid(error, "checksum missing or wrong");

    const std::int16_t i0 = Sample(data, 0);
    const std::int16_t q0 = Sample(data, 2);
    for (size_t offset = 4; offset < dataBytes; offset += 4) {
        if (Sample(data, offset) != i0 || Sample(data, offset + 2) != q0) {
            return Invalid(error, "samples are not constant");
        }
    }
    if (i0 == 0 && q0 == 0)
        return Invalid(error, "zero I/Q point");
    info.phaseDeg = std::atan2(static_cast<double>(q0), static_cast<double>(i0)) * 180.0 /
                    3.14159265358979323846;
    info.magnitude = std::hypot(static_cast<double>(i0), static_cast<double>(q0)) / 32767.0;
    return info;
}

std::string MakeDcWaveform(double i, double q, int samples, double clockHz) {
    auto toSample = [](double x) {
        return static_cast<std::int16_t>(std::lround(std::clamp(x, -1.0, 1.0) * 32767.0));
    };
    const std::int16_t iValue = toSample(i);
    const std::int16_t qValue = toSample(q);
    std::string data;
    for (int n = 0; n < samples; ++n) {
        for (std::int16_t v : {iValue, qValue}) {
            const auto u = static_cast<std::uint16_t>(v);
            data += static_cast<char>(u & 0xFF);
            data += static_cast<char>(u >> 8);
        }
    }
    std::string file(kMagic);
    file += "kind dc\n";
    file += "clock-hz " + std::to_string(std::llround(clockHz)) + "\n";
    file += "samples " + std::to_string(samples) + "\n";
    file += "data " + std::to_string(data.size()) + "\n";
    file += data;
    char trailer[32];
    std::snprintf(trailer, sizeof trailer, "\ncrc32 %08x\n", static_cast<unsigned>(Crc32(data)));
    file += trailer;
    return file;
}

bool WriteWaveformFile(const std::string& path, std::string* error) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    const std::string bytes = MakeDcWaveform();
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        if (error)
            *error = "cannot open " + path + " for writing";
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace sim
