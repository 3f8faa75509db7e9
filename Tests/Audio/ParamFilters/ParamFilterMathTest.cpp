#include "Audio/ParamFilters/ParamFilterMath.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <tuple>

namespace zel
{
namespace
{

using CFreqs = std::vector<double>;

void expectFreqs(const CFreqs& freqs, const CFreqs& expected)
{
    ASSERT_EQ(freqs.size(), expected.size());
    for (std::size_t i = 0; i < freqs.size(); ++i)
        EXPECT_NEAR(freqs[i], expected[i], 1e-9 * expected[i]) << i;
}

TEST(ParamFilterMath, LogLayoutCountsAndRatios)
{
    // {count, lowest, highest, frequencies, ratio}
    const double mid = std::sqrt(20.0 * 20000.0);
    const std::tuple<double, double, double, CFreqs, double> cases[] = {
        {3, 20, 20000, {20, mid, 20000}, std::sqrt(1000.0)},
        {2.5, 20, 20000, {20, mid, 20000}, std::sqrt(1000.0)}, // half rounds away from zero
        {2.49, 20, 20000, {20}, 0.0},
        {2, 20, 20000, {20}, 0.0},
        {5, 100, 1600, {100, 200, 400, 800, 1600}, 2.0},
    };
    for (const auto& [count, lowest, highest, expected, ratio] : cases)
    {
        CFreqs freqs;
        SCOPED_TRACE(count);
        EXPECT_NEAR(layoutLogBands(count, lowest, highest, freqs), ratio, 1e-12);
        expectFreqs(freqs, expected);
    }
    // The default 32 bands: about 0.3215 octave apart, neighbours a third of that.
    CFreqs freqs;
    EXPECT_NEAR(layoutLogBands(32, 20, 20000, freqs), 1.249609141, 1e-9);
    EXPECT_NEAR(bandNeighbourFactor(freqs), std::pow(1000.0, 1.0 / 93.0), 1e-12);
    EXPECT_EQ(bandNeighbourFactor(CFreqs{440.0}), 1.0);
}

TEST(ParamFilterMath, RangeIsWidenedOrderedOrDefaulted)
{
    // {lowest, highest} given and as normalised
    const std::array<double, 4> cases[] = {
        {20, 20000, 20, 20000}, {1000, 1000, 1000, 1100}, {20000, 20, 20, 20000},
        {0, 500, 20, 20000},    {NAN, 500, 20, 20000},    {100, INFINITY, 20, 20000},
    };
    for (const auto& [lowestIn, highestIn, expectLowest, expectHighest] : cases)
    {
        double lowest = lowestIn, highest = highestIn;
        normaliseBandRange(lowest, highest);
        EXPECT_DOUBLE_EQ(lowest, expectLowest) << lowestIn << ".." << highestIn;
        EXPECT_DOUBLE_EQ(highest, expectHighest) << lowestIn << ".." << highestIn;
    }
}

TEST(ParamFilterMath, IsoLayoutAnchorsAtOneKilohertz)
{
    // {spacing index, lowest, highest, frequencies}
    const std::tuple<double, double, double, CFreqs> cases[] = {
        {4, 20, 20000, {31.25, 62.5, 125, 250, 500, 1000, 2000, 4000, 8000, 16000}},
        {4.4, 20, 20000, {31.25, 62.5, 125, 250, 500, 1000, 2000, 4000, 8000, 16000}},
        {6, 20, 20000, {62.5, 250, 1000, 4000, 16000}}, // two octaves
        {6, 20, 999, {62.5, 250}},                      // no 1000 Hz below it
        {99, 100, 20000, {1000 / std::pow(2.0, 2.5), 1000, 1000 * std::pow(2.0, 2.5)}}, // 2.5 oct
        {4, 2000, 20000, {1000, 2000, 4000, 8000, 16000}}, // the anchor stays
        {4, 600, 900, {600}},
        {4,
         31.25,
         16000,
         {31.25, 62.5, 125, 250, 500, 1000, 2000, 4000, 8000, 16000}}, // nothing fits
    };
    for (const auto& [index, lowest, highest, expected] : cases)
    {
        CFreqs freqs;
        layoutIsoBands(index, lowest, highest, freqs);
        SCOPED_TRACE(testing::Message() << index << " " << lowest);
        expectFreqs(freqs, expected);
    }
    CFreqs freqs;
    EXPECT_DOUBLE_EQ(layoutIsoBands(0, 20, 20000, freqs), std::cbrt(2.0));
    EXPECT_NEAR(bandwidthForRatio(2.0), 1.52709, 1e-5);
    // The post-gain polynomial summed term by term at wider spacings, where every
    // coefficient shows.
    EXPECT_NEAR(postGainForRatio(2.0), 0.51677410528, 1e-10);
    EXPECT_NEAR(postGainForRatio(std::pow(2.0, 2.5)), 0.73196330184, 1e-10);
}

TEST(ParamFilterMath, CurveSegmentsByBisection)
{
    const std::vector<CCurvePoint> line = {{0.0, 0.2}, {1.0, 0.6}};
    const std::vector<CCurvePoint> same = {{0.0, 0.0}, {0.5, 0.2}, {0.5, 0.8}, {1.0, 1.0}};
    const std::vector<CCurvePoint> sameAtEnd = {{0.0, 0.0}, {1.0, 0.2}, {1.0, 0.8}};
    const std::vector<CCurvePoint> one = {{0.3, 0.7}};
    const std::vector<CCurvePoint> none;
    const std::tuple<const std::vector<CCurvePoint>*, double, double> cases[] = {
        {&line, 0.5, 0.4},      {&line, 0.0, 0.2},      {&line, 1.0, 0.6},
        {&line, -0.5, 0.0},     {&line, 1.5, 0.8}, // the end segments continue outside
        {&one, -3.0, 0.7},      {&one, 9.0, 0.7},       {&none, 0.5, 0.0},
        {&same, 0.5, 0.8}, // a step: x(i) <= x < x(i+1) picks the pair after it
        {&same, 0.75, 0.9},     {&sameAtEnd, 1.5, 0.5}, // two points at one x: their middle
        {&sameAtEnd, 0.5, 0.1},
    };
    for (const auto& [curve, x, expected] : cases)
        EXPECT_NEAR(evaluateCurve(*curve, x), expected, 1e-12) << x;

    // Many points: bisection agrees with a linear scan.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<CCurvePoint> points(37);
    for (std::size_t i = 0; i < points.size(); ++i)
        points[i] = {static_cast<double>(i) / 36.0, unit(random)};
    for (int trial = 0; trial < 200; ++trial)
    {
        const double x = unit(random);
        std::size_t i = 0;
        while (i + 2 < points.size() && points[i + 1].x <= x)
            ++i;
        const double t = (x - points[i].x) / (points[i + 1].x - points[i].x);
        EXPECT_NEAR(evaluateCurve(points, x), points[i].y + (points[i + 1].y - points[i].y) * t,
                    1e-12);
    }
}

TEST(ParamFilterMath, SplineUsesTabulatedCatmullRom)
{
    const CCatmullRomTable table;
    for (int k = 1; k <= CCatmullRomTable::kSteps; ++k)
    {
        const auto& w = table.weights(k);
        EXPECT_NEAR(w[0] + w[1] + w[2] + w[3], 1.0, 1e-12) << k;
    }
    // Catmull-Rom written from its matrix form, as an oracle for the table.
    auto catmull = [](double p0, double p1, double p2, double p3, double t)
    {
        return 0.5 * ((2 * p1) + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                      (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t);
    };
    const std::vector<CCurvePoint> points = {{0.0, 0.1}, {0.25, 0.9}, {0.5, 0.3}, {1.0, 0.5}};
    const std::pair<double, double> cases[] = {
        {0.25, 0.9},                                                 // a point itself (step 0)
        {0.25 + 0.25 * 0.3, catmull(0.1, 0.9, 0.3, 0.5, 19.0 / 64)}, // t = 0.3 -> step 19
        {0.1, catmull(0.1, 0.1, 0.9, 0.3, 26.0 / 64)},               // first segment: p0 = p1
        {0.9, catmull(0.9, 0.3, 0.5, 0.5, 51.0 / 64)},               // last segment: p3 = p2
        {1.5, 0.7},                                                  // outside: the straight line
    };
    for (const auto& [x, expected] : cases)
        EXPECT_NEAR(evaluateCurve(points, x, &table), expected, 1e-12) << x;
}

} // namespace
} // namespace zel
