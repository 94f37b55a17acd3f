#include "reference/reference_values.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
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

  // Each cell is worked out only when every slot it rests on is known (read back
  // or typed); a cell with an unknown input shows nothing and fails nothing.
  void run() {
    const double frequencyBase = kFrequencyBaseKHz;
    const double timeBase = kTimeBaseKHz;
    const double resistanceBase = kResistanceBaseOhms;

    // Row 1: the raw flag.
    cells_.setReferenceValue(1, known(1) ? std::to_string(valueOf(in_.slotValues[1])) : "");
    // Row 2.
    cells_.setReferenceValue(2, !known(2) ? "" : slot(2) == 0 ? "UNCAL" : "CAL");

    // Row 3: the RF control byte's meaning, looked up only for a known byte.
    if (known(3)) {
      lookups_.lookUpRfControl(key(slot(3)));
      cells_.setReferenceValue(3, dbValueText(values_.band, in_.locale));
      cells_.setReferenceUnit(3, dbValueText(values_.testSignal, in_.locale));
    } else {
      cells_.setReferenceValue(3, "");
      cells_.setReferenceUnit(3, fixedTexts(3).referenceUnit);
    }

    // Rows 4 and 5, and the IF beside row 5.
    const Number testFrequency =
        shown(4, {4}, [&] { return divide(divide(frequencyBase, slot(4) + 1), 2); });
    const Number localOscFrequency =
        shown(5, {5}, [&] { return divide(divide(frequencyBase, slot(5) + 1), 2); });
    described(5, testFrequency && localOscFrequency, [&] {
      return *testFrequency > 100 ? *testFrequency - *localOscFrequency
                                  : *localOscFrequency - *testFrequency;
    });

    // Row 6 and the descriptions of rows 6 and 7: the CONFIG byte's meaning.
    if (known(6)) {
      lookups_.lookUpConfig(key(slot(6)));
      cells_.setReferenceValue(6, dbValueText(values_.nbl, in_.locale));
      cells_.setDescriptionValue(6, values_.cfg3Text);
      cells_.setDescriptionValue(7, dbValueText(values_.nbf, in_.locale));
    } else {
      cells_.setReferenceValue(6, "");
      cells_.setDescriptionValue(6, "");
      cells_.setDescriptionValue(7, "");
    }

    const Number tvgClock =
        shown(7, {7}, [&] { return divide(finite((slot(7) + 1) * 80 * 4096), timeBase); });
    shown(8, {8}, [&] { return divide(finite(slot(8) * 2 * 2.5 * 16), 4096); });
    shown(9, {7, 8, 9}, [&] {
      const double n =
          finite(finite((slot(9) + 1) * 320 * slot(8) * 16) - finite(timeBase * *tvgClock));
      const double d = finite((slot(9) + 1) * 320 / 2 * 4096 / 2.5);
      return divide(n, d);
    });
    shown(10, {10}, [&] { return divide(divide(divide(timeBase, 40), 2), slot(10) + 1); });

    // The reference clock first: rows 11 and 13..16 use it.
    const Number perPrescale = computed({12}, [&] { return divide(frequencyBase, slot(12) + 1); });
    const Number refClock =
        shown(17, {12, 17}, [&] { return divide(divide(*perPrescale, slot(17) + 1), 4); });
    shown(11, {11, 12, 17}, [&] { return divide(slot(11) + 1, *refClock); });
    const Number phi1Clock =
        shown(13, {12, 13}, [&] { return divide(*perPrescale, slot(13) + 1); });
    described(13, refClock && phi1Clock, [&] {
      const double a = divide(1, *refClock);
      const double phi2Cosine = divide(a, finite(a + divide(1, *phi1Clock)));
      return round(arcCosDegrees(phi2Cosine));
    });
    const Number phi2Clock =
        shown(14, {12, 14}, [&] { return divide(*perPrescale, slot(14) + 1); });
    described(14, refClock && phi1Clock && phi2Clock, [&] {
      const double a = divide(1, *refClock);
      const double phi1Cosine =
          divide(a, finite(finite(a + divide(1, *phi1Clock)) + divide(1, *phi2Clock)));
      return round(arcCosDegrees(phi1Cosine));
    });
    shown(15, {12, 15}, [&] { return divide(divide(*perPrescale, slot(15) + 1), 4); });

    // Depths from the pulse width and the clocks.
    const double pulse = parseNumber(in_.pulseWidthText, in_.locale);
    described(15, refClock && phi1Clock,
              [&] { return round(divide(finite(pulse * *phi1Clock), *refClock) * 1.5 / 2); });
    shown(16, {12, 16}, [&] { return divide(*perPrescale, slot(16) + 1); });
    described(16, refClock.has_value(), [&] { return round(divide(4096, *refClock) * 1.5 / 2); });

    // Gains in percent, and the VR1 resistor from the RF gain.
    shown(18, {18}, [&] { return divide(slot(18), 255) * 100; });
    shown(19, {19}, [&] { return divide(slot(19), 255) * 100; });
    const Number rfGain = shown(20, {20}, [&] { return divide(slot(20), 255) * 100; });
    described(20, rfGain.has_value(), [&] { return round(*rfGain * 40 / 100); });

    // Integration constants in kohm.
    shown(27, {27}, [&] { return divide(divide(resistanceBase, slot(27)), 1000); });
    shown(28, {28}, [&] { return divide(divide(resistanceBase, slot(28)), 1000); });

    const std::int16_t pulseIntegral = valueOf(in_.slotValues[30]);
    cells_.setReferenceValue(30, !known(30)            ? ""
                                 : pulseIntegral < 206 ? "Disabled"
                                                       : std::to_string(pulseIntegral));
    cells_.setReferenceValue(31, !known(31) ? "" : slot(31) == 0 ? "ON" : "OFF");
  }

 private:
  // A worked-out figure, or nothing when one of its inputs is not known.
  using Number = std::optional<double>;

  // Whether the slot holds a value that was read back or typed.
  bool known(int k) const { return in_.slotValues[static_cast<std::size_t>(k)].has_value(); }

  // A slot's working value as a number.
  double slot(int k) const { return valueOf(in_.slotValues[static_cast<std::size_t>(k)]); }

  static double round(double x) { return round3(finite(x)); }

  std::string text(double x) const { return numberText(x, in_.locale); }

  // A figure from the given slots, worked out only when they are all known.
  template <typename F>
  Number computed(std::initializer_list<int> inputs, F&& work) const {
    for (int k : inputs)
      if (!known(k)) return std::nullopt;
    return work();
  }

  // Rounds a row's number, shows it on the row (nothing when an input is not
  // known) and hands it to the later steps.
  template <typename F>
  Number shown(int row, std::initializer_list<int> inputs, F&& work) {
    Number v = computed(inputs, work);
    if (v) v = round(*v);
    cells_.setReferenceValue(row, v ? text(*v) : std::string());
    return v;
  }

  // A description figure, worked out only when its inputs are known.
  template <typename F>
  void described(int row, bool inputsKnown, F&& work) {
    cells_.setDescriptionValue(row, inputsKnown ? text(work()) : std::string());
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
