// Measured BRDFs: the process-wide generator, the fitted models' values by
// hand, the measurement reader as tables of files and what it reads of
// them, the solver on models made for the test, fits that recover known
// parameters, the lobe, and the data-set cache behind "measured@BSVVV".
// (Files of garbage are the fuzzer's.)
#include "Program.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredAshikhmin.h"
#include "SRF_MeasuredCache.h"
#include "SRF_MeasuredPhong.h"
#include "SRFfastRandom.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

// The library allocates its data sets with the non-throwing new; while
// theNothrowFails is set, that allocation yields null, as when memory runs
// out.
namespace
{
std::atomic<bool> theNothrowFails(false);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    if (theNothrowFails.load())
        return nullptr;
    try
    {
        return ::operator new(size);
    }
    catch (...)
    {
        return nullptr;
    }
}

namespace
{
const BX_Vector3 UP(0.0f, 0.0f, 1.0f);

std::string workPath(const std::string &name) { return std::string(SRF_BINARY_TEST_DIR) + "/measured_" + name; }

// A file in the build tree, removed when the test ends.
struct TempFile
{
    std::string path;
    TempFile(const std::string &name, const std::string &contents) : path(workPath(name))
    {
        FILE *f = std::fopen(path.c_str(), "wb");
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
    }
    ~TempFile() { std::remove(path.c_str()); }
    const char *c_str() const { return path.c_str(); }
};

// A Phong or Ashikhmin data set on parameters the test sets, the reader and
// the solver's steps made reachable.
template <class Model> struct Set : public Model
{
    explicit Set(std::initializer_list<float> p = {}) : Model("")
    {
        int i = 0;
        for (float x : p)
            this->myParameters[i++] = x;
    }
    using Model::constraint;
    using Model::read;
};
using Phong = Set<SRF_MeasuredPhong>;
using Ashikhmin = Set<SRF_MeasuredAshikhmin>;

struct Measurements
{
    BX_Vector3Array incoming, scattered, values;
    int count = 0;
};
Measurements readFile(const char *path)
{
    Measurements m;
    Phong reader;
    reader.read(path, m.incoming, m.scattered, m.values);
    m.count = reader.getPointCount();
    return m;
}

// The direction the reader makes of a polar angle and an azimuth.
BX_Vector3 direction(float theta, float phi)
{
    return TestUtil::unit(std::sin(theta) * std::sin(phi), std::sin(theta) * std::cos(phi), std::cos(theta));
}

// Writes `count` measurements of `model` at random pairs of directions with
// uniform noise of +-noise.
void writeMeasurements(const std::string &path, const SRF_MeasuredData &model, int count, float noise, unsigned seed)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "LAB_COMMENTS generated\nNUM_POINTS %d\nVARS theta_i phi_i theta_s phi_s R G B\n\n", count);
    for (int i = 0; i < count; ++i)
    {
        const float ti = 1.4f * SRFfastRandom(seed), pi = 2.0f * SRF_PI * SRFfastRandom(seed) - SRF_PI;
        const float ts = 1.4f * SRFfastRandom(seed), ps = 2.0f * SRF_PI * SRFfastRandom(seed) - SRF_PI;
        BX_Vector3 c;
        float scalar;
        model.evaluate(direction(ti, pi), UP, direction(ts, ps), c, scalar, 0);
        for (float *x : {&c.x, &c.y, &c.z})
            *x += noise * (2.0f * SRFfastRandom(seed) - 1.0f);
        std::fprintf(f, "%.9g %.9g %.9g %.9g %.9g %.9g %.9g\n", ti, pi, ts, ps, c.x, c.y, c.z);
    }
    std::fclose(f);
}

// The RMS of |model - measurement| over a file's measurements.
float rms(const SRF_MeasuredData &model, const Measurements &m)
{
    double sum = 0.0;
    for (int i = 0; i < m.count; ++i)
    {
        BX_Vector3 c;
        float scalar;
        model.evaluate(m.incoming[i], UP, m.scattered[i], c, scalar, 0);
        sum += (c - m.values[i]).length2();
    }
    return float(std::sqrt(sum / m.count));
}

SRF_Measured *makeLobe(SRF_MeasuredData *data)
{
    return new SRF_Measured(data, TestUtil::vectors({UP, UP}), TestUtil::vectors({BX_Vector3(1, 0, 0)}),
                            TestUtil::vectors({BX_Vector3(0, 1, 0)}));
}
} // namespace

// First in the file: the process-wide states are fresh only before any
// other test has drawn from them. Concurrent draws from one shared state are
// distinct steps of the one sequence, none lost or repeated.
TEST(MeasuredRandom, FreshSequencesAndOneSharedStateUnderThreads)
{
    const double expected[5] = {0.5674779415130615, 0.05569648742675781, 0.28453528881073, 0.4913749694824219,
                                0.7989534139633179};
    unsigned plain = 0u;
    std::atomic<unsigned> shared(0u);
    for (double e : expected)
        EXPECT_TRUE(double(SRFfastRandom(plain)) == e && double(SRFfastRandom(shared)) == e) << e;
    // A fresh Ashikhmin fit of a missing file keeps its first starting
    // values: parameter 0 is 100 times the first draw. A fresh Phong state's
    // first sample, which writes no bounce type.
    EXPECT_EQ(SRF_MeasuredAshikhmin(workPath("none.astm").c_str()).getParameters()[0], 56.747795f);
    SRF_MeasuredPhong phong(workPath("none.astm").c_str());
    TestUtil::Sampled s;
    phong.sample(UP, UP, s.v, s.colour, s.scalar, s.bounce, 0.3f, 0.7f, 5);
    EXPECT_VEC_NEAR(s.v, 0.1353942f, -0.8914931f, 0.4323290f, 1e-6f);
    EXPECT_TRUE(s.scalar == 1.0f && s.bounce == -7);

    std::atomic<unsigned> state(777u);
    std::vector<std::vector<float>> seen(4);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back(
            [&, t]
            {
                for (int i = 0; i < 5000; ++i)
                    seen[t].push_back(SRFfastRandom(state));
            });
    for (std::thread &w : workers)
        w.join();
    unsigned serial = 777u;
    std::multiset<float> want, got;
    for (int i = 0; i < 20000; ++i)
        want.insert(SRFfastRandom(serial));
    for (const auto &v : seen)
        got.insert(v.begin(), v.end());
    EXPECT_TRUE(state.load() == serial && want == got);
}

TEST(MeasuredModels, ValuesByHand)
{
    // Phong: Kd (n.v) + Ks (n.h)^e, nothing below the surface, scalar 1.
    const float e = 4.0f;
    Phong phong({0.2f, 0.4f, 0.6f, 0.1f, 0.3f, 0.5f, e});
    TestUtil::Evaluated v = TestUtil::evaluateOf(phong, UP, UP, direction(SRF_PI / 3.0f, 0.0f));
    const float ch = std::pow(std::cos(SRF_PI / 6.0f), e);
    EXPECT_VEC_NEAR(v.colour, 0.05f + 0.2f * ch, 0.15f + 0.4f * ch, 0.25f + 0.6f * ch, 1e-5f);
    EXPECT_EQ(v.scalar, 1.0f);
    v = TestUtil::evaluateOf(phong, UP, UP, BX_Vector3(0, 0.6f, -0.8f));
    EXPECT_TRUE(v.colour == BX_Vector3(0, 0, 0) && v.scalar == 1.0f);
    EXPECT_TRUE(phong.albedo(UP, UP, 0) == 1.0f && phong.specularRatio(0) == 0.0f);
    EXPECT_STREQ(phong.className(), "SRF_MeasuredData");
    SRF_MeasuredPhong copy(phong);
    EXPECT_TRUE(copy.getParameters() != phong.getParameters() && copy.getParameters()[6] == e);
    copy = Phong({0, 0, 0, 0, 0, 0, 9.0f});
    EXPECT_EQ(copy.getParameters()[6], 9.0f);

    // Ashikhmin, Rs = 0 at u = v = n: 28/(23 pi) (1 - 0.5^5)^2 Rd. Rd = 0, v
    // 60 degrees from n toward y: h is 30 degrees from n, the exponent nu2
    // and the value (Rs + (1 - Rs)(1 - c)^5) sqrt(16) / (8 pi) c^3 / c; the
    // normal is normalised first; h below the surface gives nothing.
    Ashikhmin diffuse({10, 20, 0, 0, 0, 1.0f, 0.5f, 0.25f}), specular({3, 3, 0.5f, 0.5f, 0.5f, 0, 0, 0});
    v = TestUtil::evaluateOf(diffuse, UP, UP, UP);
    EXPECT_VEC_NEAR(v.colour, 0.3636669f, 0.3636669f * 0.5f, 0.3636669f * 0.25f, 1e-6f);
    for (const BX_Vector3 &n : {UP, BX_Vector3(0, 0, 3)})
    {
        v = TestUtil::evaluateOf(specular, UP, n, direction(SRF_PI / 3.0f, SRF_PI / 2.0f));
        EXPECT_VEC_NEAR(v.colour, 0.0596857f, 0.0596857f, 0.0596857f, 2e-6f);
    }
    EXPECT_EQ(TestUtil::evaluateOf(specular, -UP, UP, BX_Vector3(0, 0.6f, -0.8f)).colour.x, 0.0f);
    // The tangent frame about the normal is x cross N: turning u, N and v
    // together about x leaves an anisotropic model's value as it was.
    Ashikhmin brushed({3, 30, 0.5f, 0.5f, 0.5f, 0, 0, 0});
    const BX_Vector3 u = direction(0.4f, 1.0f), w = direction(0.5f, -2.0f);
    auto turn = [](const BX_Vector3 &a) { return BX_Vector3(a.x, 0.8f * a.y - 0.6f * a.z, 0.6f * a.y + 0.8f * a.z); };
    EXPECT_NEAR(TestUtil::evaluateOf(brushed, u, UP, w).colour.x,
                TestUtil::evaluateOf(brushed, turn(u), turn(UP), turn(w)).colour.x, 1e-5f);
    SRF_MeasuredAshikhmin copied(diffuse); // copies keep eight parameters of their own
    copied = specular;
    EXPECT_TRUE(std::equal(specular.getParameters(), specular.getParameters() + 8, copied.getParameters()));
    EXPECT_NE(copied.getParameters(), specular.getParameters());

    // After the first iteration the constraint zeroes what is not positive,
    // NaN included; constraint(0) starts every parameter in [0, 1); samples
    // stay in the upper half-space.
    Phong probe({-1.0f, NAN, 0.25f});
    probe.constraint(3);
    EXPECT_TRUE(probe.getParameters()[0] == 0.0f && probe.getParameters()[1] == 0.0f &&
                probe.getParameters()[2] == 0.25f);
    probe.constraint(0);
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(probe.getParameters()[i] >= 0.0f && probe.getParameters()[i] < 1.0f);
    // The Ashikhmin model draws its own random numbers: a direction about the
    // upper half-space, as often on either side of each tangent.
    int negative[2] = {0, 0};
    for (int i = 0; i < 2000; ++i)
    {
        TestUtil::Sampled s;
        specular.sample(UP, -UP, s.v, s.colour, s.scalar, s.bounce, 0.5f, 0.5f, 0);
        ASSERT_TRUE(s.v.z >= 0.0f && std::fabs(s.v.length() - 1.0f) < 1e-5f);
        negative[0] += s.v.x < 0.0f, negative[1] += s.v.y < 0.0f;
    }
    EXPECT_TRUE(std::abs(negative[0] - 1000) < 150 && std::abs(negative[1] - 1000) < 150);
}

// Each file's point count and what the reader made of chosen rows: the
// directions of (theta, phi) and the colour. The line after the header is
// consumed; unknown columns take no place; lower-case keywords end the
// header; a short file keeps empty rows, at most MAX_UNFILLED_POINTS.
TEST(MeasuredReader, FilesAsTheReaderReadsThem)
{
    const std::string H = "VARS theta_i phi_i theta_s phi_s R G B\n";
    const int cap = SRF_MeasuredData::MAX_UNFILLED_POINTS;
    struct Entry
    {
        int index;
        BX_Vector3 in, out, value;
    };
    const BX_Vector3 Z(0, 0, 1), O(0, 0, 0);
    const struct
    {
        std::string text;
        int count;
        std::vector<Entry> entries;
    } files[] = {
        {"NUM_POINTS 2\n" + H + "closes the header\n0 0 0 0 0.1 0.2 0.3\n1.5707963 0 0.78539816 1.5707963 .5 .5 .5\n",
         2,
         {{0, Z, Z, BX_Vector3(0.1f, 0.2f, 0.3f)},
          {1, BX_Vector3(0, 1, 0), BX_Vector3(0.70710678f, 0, 0.70710678f), BX_Vector3(0.5f, 0.5f, 0.5f)}}},
        // Without the closing line the first row is consumed.
        {"NUM_POINTS 2\n" + H + "0 0 0 0 0.1 0.2 0.3\n1.5707963 0 0 0 .5 .5 .5\n",
         2,
         {{0, BX_Vector3(0, 1, 0), Z, BX_Vector3(0.5f, 0.5f, 0.5f)}, {1, O, O, O}}},
        {"NUM_POINTS 1\nVARS theta_i,phi_i,theta_s,phi_s,I\n\n0.1, 0.2, 0.3, 0.4, 0.25\n",
         1,
         {{0, direction(0.1f, 0.2f), direction(0.3f, 0.4f), BX_Vector3(0.25f, 0.25f, 0.25f)}}},
        {"NUM_POINTS 1\nVARS theta_i phi_i X theta_s phi_s R G B\n\n0 0 1.5707963 0 0.1 0.2 0.3 0.4\n",
         1,
         {{0, Z, BX_Vector3(0, 1, 0), BX_Vector3(0.1f, 0.2f, 0.3f)}}},
        {"NUM_POINTS 1\nVARS theta_i phi_i theta_s phi_s I\n\n90 0 0 0 1\n",
         1, // degrees read as radians
         {{0, direction(90.0f, 0.0f), Z, BX_Vector3(1, 1, 1)}}},
        {"VARS theta_i phi_i theta_s phi_s I\nnum_points 1\nNUM_POINTS 1\n0 0 0 0 1\n", 0, {}},
        {"NUM_POINTS 1\nVARS theta_i phi_i theta_s phi_s I\nlab_name x\n0 0 0 0 0.75\n",
         1,
         {{0, Z, Z, BX_Vector3(0.75f, 0.75f, 0.75f)}}},
        {"LAB_NAME a lab\nNUM_POINTS 7\nNUM_POINTS 1\nVARS theta_i phi_i\nVARS theta_s phi_s R\nend\n0 0 0 0 0.5\n",
         1,
         {{0, Z, Z, BX_Vector3(0.5f, 0, 0)}}},
        {"VARS theta_i phi_i theta_s phi_s I\n\n0 0 0 0 1\n", 0, {}},
        {"NUM_POINTS -5\nVARS theta_i phi_i theta_s phi_s I\n\n0 0 0 0 1\n", 0, {}},
        {"NUM_POINTS 5\nVARS I\n\n1\n2\n", 5, {{1, Z, Z, BX_Vector3(2, 2, 2)}, {4, O, O, O}}},
        {"NUM_POINTS 1\n" + H + "\n0.5\n", 1, {{0, direction(0.5f, 0.0f), Z, O}}},
        {"LAB_NAME A\r\n\r\nNUM_POINTS 2\r\nVARS theta_i,phi_i,theta_s,phi_s,R,G,B\r\n\r\n0,0,0,0,.1,.2,.3\r\n"
         "0,0,0,0,.4,.5,.6\r\n",
         2,
         {{1, Z, Z, BX_Vector3(0.4f, 0.5f, 0.6f)}}},
        {"NUM_POINTS 1\r\nVARS theta_i,phi_i,theta_s,phi_s,400nm,B\r\n\r\n0,0,0,0,0.7\r\n",
         1,
         {{0, Z, Z, BX_Vector3(0, 0, 0.7f)}}},
        {"NUM_POINTS 3\n" + H + "\na b c d e f g\n0.1x 0 0.2 0 1e 0.5q 0.5\nx\n",
         3,
         {{0, Z, Z, O}, {1, direction(0.1f, 0.0f), direction(0.2f, 0.0f), BX_Vector3(1, 0.5f, 0.5f)}}},
        {"NUM_POINTS 2147483647\nVARS I\n\n1\n2\n3\n",
         3 + cap,
         {{2, Z, Z, BX_Vector3(3, 3, 3)}, {3 + cap - 1, O, O, O}}},
    };
    for (const auto &f : files)
    {
        SCOPED_TRACE(f.text.substr(0, 60));
        TempFile file("reader.astm", f.text);
        const Measurements m = readFile(file.c_str());
        ASSERT_EQ(m.count, f.count);
        ASSERT_EQ(m.values.entries(), f.count);
        for (const Entry &e : f.entries)
        {
            EXPECT_VEC_NEAR(m.incoming[e.index], e.in.x, e.in.y, e.in.z, 1e-6f);
            EXPECT_VEC_NEAR(m.scattered[e.index], e.out.x, e.out.y, e.out.z, 1e-6f);
            EXPECT_TRUE(m.values[e.index] == e.value) << e.index;
        }
    }
    EXPECT_EQ(readFile(workPath("missing.astm").c_str()).count, 0);

    // Every form of number reads as atof reads it; rows beyond the first
    // reservation are all kept.
    const char *const forms[] = {"0.1",    "+1.5", "-0",   ".5",  "5.",       "1e-3",  "0x10", "1e999",
                                 "1e-400", "nan",  "-nan", "INF", "Infinity", "12abc", "-",    "7e-46"};
    std::string numbers = "NUM_POINTS 16\nVARS I\n\n";
    for (const char *x : forms)
        numbers += std::string(x) + "\n";
    TempFile file("numbers.astm", numbers);
    const Measurements m = readFile(file.c_str());
    for (int i = 0; i < 16; ++i)
    {
        const float want = float(std::atof(forms[i]));
        EXPECT_TRUE(std::isnan(want) ? std::isnan(m.values[i].x) : m.values[i].x == want) << forms[i];
    }
    std::string rows;
    for (int i = 0; i < cap + 100; ++i)
        rows += std::to_string(i + 1) + "\n";
    TempFile many("many.astm", "NUM_POINTS " + std::to_string(3 * cap) + "\nVARS I\n\n" + rows);
    const Measurements all = readFile(many.c_str());
    EXPECT_EQ(all.count, 2 * cap + 100);
    EXPECT_TRUE(all.values[cap + 99].x == float(cap + 100) && all.values[cap + 100].x == 0.0f);
}

// The solver's steps, reached as a friend of the data set.
class SRF_MeasuredDataTest
{
public:
    static float errorL2(SRF_MeasuredData &d, const Measurements &m)
    {
        return d.errorL2(m.incoming, m.scattered, m.values);
    }
    static void solve(SRF_MeasuredData &d, const Measurements &m)
    {
        d.levenbergMarquardt(m.incoming, m.scattered, m.values);
    }
    static void consensus(SRF_MeasuredData &d, const Measurements &m, int trials, float minShare,
                          float tolerance = 1.0f, float sampleProbability = 0.7f)
    {
        d.ransac(m.incoming, m.scattered, m.values, trials, tolerance, sampleProbability, minShare);
    }
};

namespace
{
// colour = (p0, p1 u.z, p2 v.z): linear in p0..p2, independent of p3;
// constraint(0) starts every parameter at 0.5, and the calls are counted.
class LinearModel : public SRF_MeasuredData
{
public:
    LinearModel() : SRF_MeasuredData("")
    {
        myParameters = myValues;
        myParameterCount = 4;
    }
    float albedo(const BX_Vector3 &, const BX_Vector3 &, int) const override { return 1.0f; }
    void evaluate(const BX_Vector3 &u, const BX_Vector3 &, const BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                  int) const override
    {
        colour = BX_Vector3(myParameters[0], myParameters[1] * u.z, myParameters[2] * v.z);
        scalar = 1.0f;
    }
    void sample(const BX_Vector3 &, const BX_Vector3 &, BX_Vector3 &, BX_Vector3 &, float &, int &, float, float,
                int) const override
    {
    }
    void constraint(int iteration) override
    {
        ++calls;
        lastIteration = iteration;
        if (iteration == 0)
            std::fill(myValues, myValues + 4, 0.5f);
    }
    float errorOn(const Measurements &m) { return SRF_MeasuredDataTest::errorL2(*this, m); }
    void solve(const Measurements &m) { SRF_MeasuredDataTest::solve(*this, m); }
    void consensus(const Measurements &m, int trials, float minShare, float tolerance = 1.0f,
                   float sampleProbability = 0.7f)
    {
        SRF_MeasuredDataTest::consensus(*this, m, trials, minShare, tolerance, sampleProbability);
    }
    float myValues[4] = {};
    int calls = 0, lastIteration = -1;
};

Measurements linearData(int count)
{
    Measurements m;
    for (int i = 0; i < count; ++i)
    {
        const BX_Vector3 u = direction(0.1f * i, 0.3f * i), v = direction(0.05f * i, 1.0f + 0.2f * i);
        m.incoming.append(u);
        m.scattered.append(v);
        m.values.append(BX_Vector3(0.8f, 0.25f * u.z, 0.6f * v.z));
    }
    m.count = count;
    return m;
}
} // namespace

// errorL2 = sqrt(sum |value - model|^2 / n) by hand (NaN without a
// measurement); the damped steps reach the generating values of a linear
// model, leave an ignored parameter put and call the constraint with 0
// then once per iteration; with no measurement every step is rejected and
// the damping passes its bound after seven. The consensus keeps the full
// fit when no trial may count, and takes a counting trial's fit over it
// even when the full fit was better.
TEST(MeasuredSolver, ErrorStepsAndConsensus)
{
    Phong unit({0, 0, 0, 1, 1, 1, 1});
    Measurements two;
    for (const auto &[v, value] : {std::pair{UP, BX_Vector3(1, 2, 3)}, std::pair{-UP, BX_Vector3(0, 0, 1)}})
    {
        two.incoming.append(UP);
        two.scattered.append(v);
        two.values.append(value);
    }
    two.count = 2;
    EXPECT_FLOAT_EQ(SRF_MeasuredDataTest::errorL2(unit, two), std::sqrt(3.0f));
    EXPECT_TRUE(std::isnan(LinearModel().errorOn(Measurements())));

    const Measurements exact = linearData(30);
    LinearModel model;
    model.solve(exact);
    EXPECT_NEAR(model.myValues[0], 0.8f, 1e-3f);
    EXPECT_NEAR(model.myValues[1], 0.25f, 1e-3f);
    EXPECT_NEAR(model.myValues[2], 0.6f, 1e-3f);
    EXPECT_EQ(model.myValues[3], 0.5f);
    // Seven accepted steps in a row take the damping from 1 below its bound
    // and end the solve after 8 calls; once the error is at its least, steps
    // that do not lower it by the margin are rejected and the solve runs on.
    EXPECT_TRUE(model.calls > 8 && model.calls <= 101 && model.lastIteration == model.calls - 1) << model.calls;
    LinearModel empty;
    empty.solve(Measurements());
    EXPECT_TRUE(empty.calls == 8 && empty.myValues[0] == 0.5f);

    Measurements off = linearData(30);
    for (int i = 0; i < 30; i += 7)
        off.values[i] = off.values[i] * 1.5f;
    LinearModel all, none, unreachable, trial;
    all.solve(off);
    none.consensus(off, 0, 0.75f);
    unreachable.consensus(off, 3, 2.0f);
    trial.consensus(off, 1, 0.0f);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(none.myValues[i] == all.myValues[i] && unreachable.myValues[i] == all.myValues[i]);
    EXPECT_GE(unreachable.calls, all.calls + 3 * 8); // three trials ran, none counted
    EXPECT_FALSE(std::equal(trial.myValues, trial.myValues + 3, all.myValues));
    EXPECT_LT(all.errorOn(off), trial.errorOn(off));

    // A trial that samples nothing keeps the start, colour (0.5, 0.5, 0.5)
    // at u = v = z, against measurements (1, 1, 1): off by half their own
    // length. Within a tolerance of 0.6 of it every measurement agrees and
    // the trial counts; within 0.4 none does and the full fit (1, 1, 1) stays.
    Measurements ones;
    for (int i = 0; i < 4; ++i)
    {
        ones.incoming.append(UP);
        ones.scattered.append(UP);
        ones.values.append(BX_Vector3(1, 1, 1));
    }
    ones.count = 4;
    for (const auto &[tolerance, expected] : {std::pair{0.6f, 0.5f}, std::pair{0.4f, 1.0f}})
    {
        LinearModel m;
        m.consensus(ones, 1, 1.0f, tolerance, -1.0f);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(m.myValues[i], expected, 1e-3f) << tolerance;
    }
}

// Measurements of known Phong parameters with +-0.01 noise fit to an RMS
// error near the noise's (0.01) and explain the noiseless values as well.
// The bundled example holds the model its header states, and its fit comes
// close to it (the solver approaches a glossy exponent of 12 rather than
// reaching it).
TEST(MeasuredFitting, RecoversKnownParameters)
{
    Phong truth({0.4f, 0.35f, 0.3f, 0.5f, 0.2f, 0.1f, 6.0f});
    {
        const std::string path = workPath("known.astm");
        writeMeasurements(path, truth, 400, 0.01f, 99u);
        SRF_MeasuredPhong fitted(path.c_str());
        const Measurements m = readFile(path.c_str());
        std::remove(path.c_str());
        ASSERT_EQ(fitted.getPointCount(), 400);
        Measurements clean = m;
        for (int i = 0; i < m.count; ++i)
        {
            float scalar;
            truth.evaluate(m.incoming[i], UP, m.scattered[i], clean.values[i], scalar, 0);
        }
        EXPECT_LT(rms(fitted, clean), 0.01f);
        EXPECT_LT(rms(fitted, m), 0.015f);
        EXPECT_NEAR(fitted.getParameters()[6], 6.0f, 1.0f);
    }
    const std::string example = std::string(SRF_SOURCE_DIR) + "/examples/red_plastic.astm";
    const Measurements m = readFile(example.c_str());
    ASSERT_EQ(m.count, 540);
    Phong stated({0.30f, 0.28f, 0.25f, 0.45f, 0.12f, 0.06f, 12.0f});
    EXPECT_LT(rms(stated, m), 1e-5f);
    SRF_MeasuredPhong fitted(example.c_str());
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(fitted.getParameters()[i], stated.getParameters()[i], 0.05f) << i;
    EXPECT_NEAR(fitted.getParameters()[6], 12.0f, 5.0f);
}

// The two Cornell RGB measurements of the shared data folder: 1439 rows with
// their last values, fitted better than by a model that answers zero.
TEST(MeasuredFitting, FitsRealMeasurementsBetterThanZero)
{
    for (const auto &[name, last] : {std::pair{"krylon_blue", BX_Vector3(14.090636f, 13.348047f, 24.360633f)},
                                     std::pair{"garnet_red", BX_Vector3(11.583783f, 10.660477f, 11.199487f)}})
    {
        const std::string path = std::string(SRF_SHARED_DIR) + "/data/measured/cornell_" + name + "_rgb.astm";
        if (!std::ifstream(path))
            GTEST_SKIP() << "the shared measurement files are not beside the project: " << path;
        const Measurements cornell = readFile(path.c_str());
        ASSERT_EQ(cornell.count, 1439);
        EXPECT_TRUE(cornell.values[1438] == last);
        double data = 0.0;
        for (int i = 0; i < cornell.count; ++i)
            data += cornell.values[i].length2();
        EXPECT_LT(rms(SRF_MeasuredPhong(path.c_str()), cornell), std::sqrt(data / cornell.count)) << name;
    }
}

// The lobe evaluates its data set with the lane's own normal, answers
// albedo 1 and ratio 0, writes no bounce type when it samples, and a copy
// shares the data set; a lobe on null blocks is destroyed cleanly.
TEST(MeasuredLobe, ForwardsToItsDataSet)
{
    Phong data({0.3f, 0.3f, 0.3f, 0.5f, 0.4f, 0.2f, 8.0f});
    auto lobe = TestUtil::hold(makeLobe(&data));
    const BX_Vector3 v = direction(0.5f, 1.0f);
    const TestUtil::Evaluated want = TestUtil::evaluateOf(data, UP, UP, v);
    const TestUtil::Evaluated got = TestUtil::evaluateOf(*lobe, UP, -UP, v, 1);
    EXPECT_TRUE(got.colour == want.colour && got.scalar == 1.0f);
    EXPECT_TRUE(lobe->albedo(UP, BX_Vector3(1, 0, 0), 1) == 1.0f && lobe->specularRatio(1) == 0.0f);
    const TestUtil::Sampled s = TestUtil::sampleOf(*lobe, UP, UP, 0.5f, 0.5f);
    EXPECT_TRUE(std::fabs(s.v.length() - 1.0f) < 1e-5f && s.bounce == -7);
    auto copy = TestUtil::hold(lobe->duplicate(2));
    EXPECT_EQ(static_cast<SRF_Measured *>(copy.get())->getData(), &data);
    auto empty = TestUtil::hold(new SRF_Measured(&data, nullptr, nullptr, nullptr));
    EXPECT_TRUE(TestUtil::hold(empty->duplicate(2))); // copies nothing from a missing block
}

namespace
{
const char *const SMALL = "NUM_POINTS 3\nVARS theta_i phi_i theta_s phi_s I\n\n0.1 0 0.1 3.1 0.5\n0.2 0 0.3 3.1 0.4\n"
                          "0.3 0 0.2 3.0 0.45\n";
SRF_Measured *lobeOf(const Program &p) { return static_cast<SRF_Measured *>(p.bsdf("F")); }
} // namespace

// "measured@BSVVV" builds the lobe on the cached data set (one per name,
// read once even when the file changes or appears later) and on blocks of
// the shader's normal and derivatives, lane by lane; sampled through the
// query op it reports bounce type 0. (Threads racing on names are in
// test_stress.) A data set that cannot be allocated is not entered, and the
// op stores null after dropping the old value.
TEST(MeasuredOp, CachedDataSetsAndRunningOutOfMemory)
{
    SRF_MeasuredCache &cache = SRF_MeasuredCache::instance();
    const int before = cache.entries();
    TempFile a("op_a.astm", SMALL), b("op_b.astm", SMALL);
    const std::string call = "measured@BSVVV F \"";
    Program first(call + a.path +
                  "\" N dPds dPdt\nvector v\nvector c\nint bt\n"
                  "sample_bsdf@BVVVVIFFI F (0, 0, 1) N v c bt 0.5 0.5 15\n");
    ASSERT_TRUE(first.ok()) << first.error;
    KAL_ProcArray lanes(7);
    lanes.setState(2, 1);
    for (int lane = 0; lane < 7; ++lane)
    {
        first->setVector("N", lane, BX_Vector3(0, 0.1f * lane, 1));
        first->setVector("dPds", lane, BX_Vector3(1, float(lane), 0));
        first->setVector("dPdt", lane, BX_Vector3(0, 1, float(lane)));
    }
    first->run(lanes);
    SRF_Measured *lobe = lobeOf(first);
    ASSERT_TRUE(lobe);
    EXPECT_TRUE(lobe->getRefCount() == 1 && lobe->getData() == cache.find(a.c_str()));
    EXPECT_EQ(lobe->getData()->getPointCount(), 3);
    for (int lane = 0; lane < 7; ++lane)
    {
        const bool running = lane != 2;
        EXPECT_TRUE(lobe->getNormals()[lane] == (running ? BX_Vector3(0, 0.1f * lane, 1) : BX_Vector3()));
        EXPECT_TRUE(lobe->getDPdt()[lane] == (running ? BX_Vector3(0, 1, float(lane)) : BX_Vector3()));
    }
    EXPECT_EQ(first.integer("bt", 0), 0);
    EXPECT_NEAR(first.vec("v", 0).length(), 1.0f, 1e-5f);
    TempFile changed("op_a.astm", "NUM_POINTS 1\nVARS I\n\n1\n");
    Program again(call + a.path + "\" N N N\n");
    again.run(3);
    EXPECT_EQ(lobeOf(again)->getData(), lobe->getData());
    EXPECT_EQ(lobe->getData()->getPointCount(), 3);
    const std::string late = workPath("op_late.astm");
    Program missing(call + late + "\" N N N\n");
    missing.run(1);
    TempFile appears("op_late.astm", SMALL);
    missing.run(1);
    EXPECT_EQ(lobeOf(missing)->getData()->getPointCount(), 0);
    EXPECT_EQ(cache.find(nullptr), cache.find("")); // no name is the empty name
    EXPECT_EQ(cache.entries(), before + 3);

    Program starved(call + b.path + "\" N N N\n");
    SRF_BSDF *old = lobeOf(first);
    starved->setRef("F", old);
    theNothrowFails = true;
    EXPECT_EQ(cache.find(workPath("op_other.astm").c_str()), nullptr);
    starved.run(2);
    theNothrowFails = false;
    EXPECT_TRUE(starved.bsdf("F") == nullptr && old->getRefCount() == 1);
    EXPECT_EQ(cache.entries(), before + 3);
}
