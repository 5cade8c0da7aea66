// The seeded fault layer: one generator per board, drawn in the order of the exchanges, so the
// same seed and the same host traffic give the same faults.
#include "sim/fault_layer.h"

#include <cstdio>

namespace sim::detail {
namespace {

constexpr size_t kStatusBusyByte = 2;
constexpr size_t kStatusBusByte = 4;
constexpr size_t kFirstAnswerByte = 1;
constexpr int kMaxFlippedBits = 3;

// Values a status byte takes in a wobble: the meaningful ones, and some no firmware should send.
constexpr uint8_t kOddBusStates[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x06, 0x80, 0xFE, 0xFF};
constexpr uint8_t kOddBusyValues[] = {0x00, 0x01, 0x80, 0xFF};

// splitmix64: small, fast, and every seed gives a different stream.
uint64_t Next(FaultLayer& layer) {
    uint64_t z = (layer.random += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int Below(FaultLayer& layer, int bound) { return static_cast<int>(Next(layer) % bound); }

bool Chance(FaultLayer& layer, int perMille) {
    return perMille > 0 && Below(layer, kPerMille) < perMille;
}

std::string FlipBits(FaultLayer& layer, std::array<uint8_t, kReportSize>& answer) {
    const int flips = 1 + Below(layer, kMaxFlippedBits);
    std::string what = "flipped";
    for (int i = 0; i < flips; ++i) {
        const size_t byte = kFirstAnswerByte + Below(layer, kReportSize - kFirstAnswerByte);
        const int bit = Below(layer, 8);
        answer[byte] ^= static_cast<uint8_t>(1u << bit);
        what += " byte " + std::to_string(byte) + " bit " + std::to_string(bit);
    }
    return what;
}

}  // namespace

void StartFaultLayer(FaultLayer& layer, const SeededFaults& settings) {
    layer = FaultLayer();
    layer.settings = settings;
    layer.random = settings.seed;
}

bool FaultLayerOn(const FaultLayer& layer) { return layer.settings.seed != 0; }

std::string PerturbAnswer(FaultLayer& layer, std::array<uint8_t, kReportSize>& answer,
                          bool isStatus) {
    if (!FaultLayerOn(layer)) return "";
    if (isStatus && layer.perturbedStatus >= kMaxPerturbedStatus) {
        // The bound that keeps every poll finite: this answer is the board's own.
        layer.perturbedStatus = 0;
        layer.wobbleLeft = 0;
        return "";
    }
    std::string what;
    if (isStatus && layer.wobbleLeft == 0 && Chance(layer, layer.settings.oddStatus)) {
        layer.wobbleLeft = 1 + Below(layer, kMaxPerturbedStatus);
    }
    if (isStatus && layer.wobbleLeft > 0) {
        --layer.wobbleLeft;
        answer[kStatusBusyByte] = kOddBusyValues[Below(layer, sizeof kOddBusyValues)];
        answer[kStatusBusByte] = kOddBusStates[Below(layer, sizeof kOddBusStates)];
        char text[48];
        std::snprintf(text, sizeof text, "odd status busy=%u bus=%u",
                      unsigned{answer[kStatusBusyByte]}, unsigned{answer[kStatusBusByte]});
        what = text;
    }
    if (Chance(layer, layer.settings.flippedAnswer)) {
        what += (what.empty() ? "" : ", ") + FlipBits(layer, answer);
    }
    if (isStatus) layer.perturbedStatus = what.empty() ? 0 : layer.perturbedStatus + 1;
    return what;
}

bool DropData(FaultLayer& layer) {
    return FaultLayerOn(layer) && Chance(layer, layer.settings.droppedData);
}

int ExtraHandoverPolls(FaultLayer& layer) {
    if (!FaultLayerOn(layer) || !Chance(layer, layer.settings.slowHandover)) return 0;
    return 1 + Below(layer, kMaxExtraHandover);
}

}  // namespace sim::detail
