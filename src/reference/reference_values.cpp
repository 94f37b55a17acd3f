#include "reference/reference_values.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "model/errors.h"

namespace ku {
namespace {

// A number that left the range of a double is an overflow, never "inf".
double finite(double x) {
  if (!std::isfinite(x)) throw KuError(kOverflow, "Overflow");
  return x;
}

double divide(double a, double b) {
  if (b == 0) throw KuError(kDivisionByZero, "Division by zero");
  return finite(a / b);
}

double squareRoot(double x) {
  if (x < 0) throw KuError(kInvalidArgument, "Invalid procedure call or argument");
  return std::sqrt(x);
}

// The refresh's own steps, sharing the inputs and the rounded numbers.
class Refresh {
 public:
  Refresh(const ReferenceInputs& in, ReferenceLookups& lookups, const LookupValues& values,
          ReferenceCells& cells)
      : in_(in), lookups_(lookups), values_(values), cells_(cells) {}

  void run() {
    const double frequencyBase = kFrequencyBaseKHz;
    const double timeBase = kTimeBaseKHz;
    const double resistanceBase = kResistanceBaseOhms;

    // Row 1: the raw flag, empty while never set.
    const SlotValue& flag = in_.slotValues[1];
    cells_.setReferenceValue(1, flag ? std::to_string(*flag) : std::string());
    // Row 2.
    cells_.setReferenceValue(2, slot(2) == 0 ? "UNCAL" : "CAL");

    // Row 3: the RF control byte's meaning.
    lookups_.lookUpRfControl(key(slot(3)));
    cells_.setReferenceValue(3, dbValueText(values_.band, in_.locale));
    cells_.setReferenceUnit(3, dbValueText(values_.testSignal, in_.locale));

    // Rows 4 and 5, and the IF beside row 5.
    const double testFrequency = shown(4, divide(divide(frequencyBase, slot(4) + 1), 2));
    const double localOscFrequency = shown(5, divide(divide(frequencyBase, slot(5) + 1), 2));
    const double ifFrequency =
        testFrequency > 100 ? testFrequency - localOscFrequency : localOscFrequency - testFrequency;
    cells_.setDescriptionValue(5, text(ifFrequency));

    // Row 6 and the descriptions of rows 6 and 7: the CONFIG byte's meaning.
    lookups_.lookUpConfig(key(slot(6)));
    cells_.setReferenceValue(6, dbValueText(values_.nbl, in_.locale));
    cells_.setDescriptionValue(6, values_.cfg3Text);
    cells_.setDescriptionValue(7, dbValueText(values_.nbf, in_.locale));

    const double tvgClock = shown(7, divide(finite((slot(7) + 1) * 80 * 4096), timeBase));
    shown(8, divide(finite(slot(8) * 2 * 2.5 * 16), 4096));
    {
      const double n =
          finite(finite((slot(9) + 1) * 320 * slot(8) * 16) - finite(timeBase * tvgClock));
      const double d = finite((slot(9) + 1) * 320 / 2 * 4096 / 2.5);
      shown(9, divide(n, d));
    }
    shown(10, divide(divide(divide(timeBase, 40), 2), slot(10) + 1));

    // The reference clock first: rows 11 and 13..16 use it.
    const double perPrescale = divide(frequencyBase, slot(12) + 1);
    const double refClock = shown(17, divide(divide(perPrescale, slot(17) + 1), 4));
    shown(11, divide(slot(11) + 1, refClock));
    const double phi1Clock = shown(13, divide(perPrescale, slot(13) + 1));
    {
      const double a = divide(1, refClock);
      const double phi2Cosine = divide(a, finite(a + divide(1, phi1Clock)));
      cells_.setDescriptionValue(13, text(round(arcCosDegrees(phi2Cosine))));
    }
    const double phi2Clock = shown(14, divide(perPrescale, slot(14) + 1));
    {
      const double a = divide(1, refClock);
      const double phi1Cosine =
          divide(a, finite(finite(a + divide(1, phi1Clock)) + divide(1, phi2Clock)));
      cells_.setDescriptionValue(14, text(round(arcCosDegrees(phi1Cosine))));
    }
    shown(15, divide(divide(perPrescale, slot(15) + 1), 4));

    // Depths from the pulse width and the clocks.
    const double pulse = parseNumber(in_.pulseWidthText, in_.locale);
    const double minDepth = round(divide(finite(pulse * phi1Clock), refClock) * 1.5 / 2);
    cells_.setDescriptionValue(15, text(minDepth));
    shown(16, divide(perPrescale, slot(16) + 1));
    const double maxDepth = round(divide(4096, refClock) * 1.5 / 2);
    cells_.setDescriptionValue(16, text(maxDepth));

    // Gains in percent, and the VR1 resistor from the RF gain.
    shown(18, divide(slot(18), 255) * 100);
    shown(19, divide(slot(19), 255) * 100);
    const double rfGain = shown(20, divide(slot(20), 255) * 100);
    cells_.setDescriptionValue(20, text(round(rfGain * 40 / 100)));

    // Integration constants in kohm.
    shown(27, divide(divide(resistanceBase, slot(27)), 1000));
    shown(28, divide(divide(resistanceBase, slot(28)), 1000));

    const std::int16_t pulseIntegral = valueOf(in_.slotValues[30]);
    cells_.setReferenceValue(30, pulseIntegral < 206 ? "Disabled" : std::to_string(pulseIntegral));
    cells_.setReferenceValue(31, slot(31) == 0 ? "ON" : "OFF");
  }

 private:
  // A slot's working value as a number (0 while unset).
  double slot(int k) const { return valueOf(in_.slotValues[static_cast<std::size_t>(k)]); }

  static double round(double x) { return round3(finite(x)); }

  std::string text(double x) const { return numberText(x, in_.locale); }

  // Rounds a row's number, shows it on the row and hands it to the later steps.
  double shown(int row, double x) {
    const double v = round(x);
    cells_.setReferenceValue(row, text(v));
    return v;
  }

  // A lookup key: the value as a 16-bit integer.
  static std::int16_t key(double v) {
    const double r = std::nearbyint(v);
    if (!(r >= std::numeric_limits<std::int16_t>::min() &&
          r <= std::numeric_limits<std::int16_t>::max())) {
      throw KuError(kOverflow, "Overflow");
    }
    return static_cast<std::int16_t>(r);
  }

  // Degrees of the arc cosine, by the arc-tangent identity in its fixed order.
  double arcCosDegrees(double x) const {
    const double root = squareRoot(finite(-x * x + 1));
    return finite((std::atan(divide(-x, root)) + 2 * std::atan(1.0)) * 180 / kPiTenDigits);
  }

  const ReferenceInputs& in_;
  ReferenceLookups& lookups_;
  const LookupValues& values_;
  ReferenceCells& cells_;
};

}  // namespace

void refreshReferenceValues(const ReferenceInputs& in, ReferenceLookups& lookups,
                            const LookupValues& values, ReferenceCells& cells) {
  if (!in.portReady) return;
  Refresh(in, lookups, values, cells).run();
}

}  // namespace ku
