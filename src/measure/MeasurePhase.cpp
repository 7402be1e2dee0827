#include "MeasurePhase.h"

#include <cmath>

#include "instrument/NumberText.h"
#include "measure/NullFit.h"

namespace korvel {

namespace {

std::string OffsetCommand(int source, double phaseDeg, int decimals) {
    return "SOURCE" + std::to_string(source) + ":BB:POFF " + FormatFixed(phaseDeg, decimals) +
           "DEG";
}

}  // namespace

std::string LostSessionText(std::initializer_list<const CVisaDevice*> devices) {
    for (const CVisaDevice* device : devices) {
        if (!device->IsConnected())
            return "the session to " + device->Resource() + " failed";
    }
    return {};
}

double MeanOfDifferences(const std::vector<double>& differencesDeg) {
    if (differencesDeg.empty())
        return 0.0;
    const double first = differencesDeg.front();
    double sum = 0.0;
    for (double d : differencesDeg) {
        if (d - first > 180.0) {
            d -= 360.0;
        } else if (d - first < -180.0) {
            d += 360.0;
        }
        sum += d;
    }
    double mean = sum / static_cast<double>(differencesDeg.size());
    if (mean < 0.0)
        mean += 360.0;
    if (mean >= 360.0)
        mean -= 360.0;
    return mean;
}

double RoundPhase(double averageDeg) {
    const double rounded = std::trunc(averageDeg * 1000.0 + 0.5) * 0.001;
    return rounded >= 360.0 ? 0.0 : rounded;
}

double MeasurePhase(Instruments& instruments, const MeasureOptions& options, double& phaseResult,
                    Window& window, MeasureReport* report) {
    if (!instruments.connected || (!options.useRfB && !instruments.generator2))
        return kNotMeasured;
    const std::uint32_t passes = options.average;
    if (passes < 1 || passes > kMaxAverage) {
        // 0 passes have no mean; a huge count would hold the bench for days.
        if (report)
            report->refusal = "No measurement: Avg. must be a whole number from 1 to 100.";
        return kNotMeasured;
    }
    CVisaDevice& generator1 = *instruments.generator1;
    CVisaDevice& analyzer = *instruments.analyzer;
    CVisaDevice& secondPathDevice = options.useRfB ? generator1 : *instruments.generator2;
    const int secondPathSource = options.useRfB ? 2 : 1;

    const double increment = options.phaseRotation ? 360.0 / passes : 0.0;
    analyzer.Write("INIT:CONT OFF");
    std::vector<double> differences;
    differences.reserve(passes);
    // A reply without a number reads as 0 dBm: it would pass for a reading and steer the search.
    bool readingsCarryNumbers = true;
    // Once abandoned, no reading is taken: 100 dBm, above any real one, leaves every search
    // where it stands.
    bool abandoned = false;
    auto read = [&](double offsetDeg) {
        if (abandoned || (abandoned = window.Abandoning()))
            return 100.0;
        generator1.Write(OffsetCommand(1, offsetDeg, 2));
        generator1.Query("*OPC?");
        analyzer.Write("INIT;*WAI");
        bool number = false;
        const double readingDbm = ParseLeadingDouble(analyzer.Query("CALC1:MARK1:Y?"), &number);
        readingsCarryNumbers = readingsCarryNumbers && number;
        return readingDbm;
    };
    int fellBack = 0;
    std::string fallBackReason;
    for (std::uint32_t pass = 0; pass < passes && !abandoned; ++pass) {
        const double base = pass * increment;
        generator1.Write(OffsetCommand(1, base, 2));
        secondPathDevice.Write(OffsetCommand(secondPathSource, base, 2));
        double centre = base;
        bool standard = options.search == Search::Standard;
        if (!standard) {
            const NullFit fit = FastNullSearch(base, read);
            centre = fit.nullDeg;
            // Readings of a lost session or without numbers fail the measurement as they do
            // in the standard search; searching again would not mend them.
            const bool failed =
                abandoned || !readingsCarryNumbers ||
                !LostSessionText({&generator1, &analyzer, &secondPathDevice}).empty();
            if (!fit.fits && !failed) {
                standard = true;
                centre = base;
                if (fellBack++ == 0)
                    fallBackReason = fit.why;
            }
        }
        // Twelve stages of three readings, step halved from 120 down to 0.05859375 degrees.
        for (double step = 120.0; standard && step >= 0.05; step *= 0.5) {
            double lowestDbm = 100.0;
            double best = centre;
            for (int k = -1; k <= 1; ++k) {
                double point = centre + k * step;
                if (point >= 360.0) {
                    point -= 360.0;
                } else if (point < 0.0) {
                    point += 360.0;
                }
                const double readingDbm = read(point);
                if (readingDbm < lowestDbm) {
                    lowestDbm = readingDbm;
                    best = point;
                }
            }
            centre = best;
        }
        double difference = centre - base;
        if (difference < 0.0)
            difference += 360.0;
        if (difference >= 360.0)
            difference -= 360.0;
        differences.push_back(difference);
    }

    if (report) {
        report->passDifferencesDeg = differences;
        report->fellBack = fellBack;
        report->fallBackReason = fallBackReason;
    }
    const double average = MeanOfDifferences(differences);
    if (!abandoned) {
        generator1.Write(OffsetCommand(1, average, 1));
        generator1.Query("*OPC?");
    }
    // A session that failed on the way answered with stale replies of other exchanges. A write
    // that fails shows no box, so this is where the user learns of a link lost by a write.
    std::string failure = LostSessionText({&generator1, &analyzer, &secondPathDevice});
    if (failure.empty() && abandoned)
        failure = kMeasurementAbandoned;
    if (failure.empty() && !readingsCarryNumbers)
        failure = kReadingsWithoutNumber;
    const bool measured = failure.empty();
    if (report)
        report->failure = failure;
    if (measured)
        phaseResult = RoundPhase(average);
    window.Refresh();
    analyzer.Write("INIT:CONT ON");
    return measured ? phaseResult : kNotMeasured;
}

}  // namespace korvel
