// The utility layer as the library uses it: the shared warps (statistically,
// through the chi-square harness), frames, the small-object allocator under
// threads, the LU solver of the fitting, and text input.
#include "BX_IFStream.h"
#include "BX_Lock.h"
#include "BX_Matrix.h"
#include "BX_MatrixSolver.h"
#include "BX_PermutationT.h"
#include "BX_PolarSample.h"
#include "BX_SmallObjectAllocator.h"
#include "BX_SymbolTable.h"
#include "BX_VectorT.h"
#include "BX_WorkBuffer.h"
#include "ChiSquare.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

using TestUtil::PI;

TEST(BxWarps, SphereAndDiskSamplesAreUniformAndFramesOrthonormal)
{
    const BX_Vector3 axis(0.6f, 0.0f, 0.8f);
    const ChiSquare::Frame frame = ChiSquare::frameAbout(axis);
    // compute(s, t): uniform on the sphere about any axis.
    EXPECT_TRUE(ChiSquare::fits({"polar sample", frame,
                                 [axis](float s, float t, BX_Vector3 &d) { BX_PolarSample(axis).compute(d, s, t); },
                                 [](const BX_Vector3 &) { return 1.0 / (4.0 * PI); }}));
    // computeDisk2 preserves area: the disk point lifted to the hemisphere is
    // cosine-distributed.
    EXPECT_TRUE(ChiSquare::fits({"disk lifted to the hemisphere", frame,
                                 [frame](float s, float t, BX_Vector3 &d)
                                 {
                                     float x, y;
                                     BX_PolarSample::computeDisk2(s, t, x, y);
                                     const float z = std::sqrt(std::max(0.0f, 1.0f - x * x - y * y));
                                     d = frame.x * x + frame.y * y + frame.z * z;
                                 },
                                 [axis](const BX_Vector3 &d) { return std::max(0.0, double(axis.dot(d))) / PI; }}));
    float x, y;
    BX_PolarSample::computeDisk2(0.5f, 0.5f, x, y);
    EXPECT_TRUE(x == 0.0f && y == 0.0f);
    BX_PolarSample::computeDisk2(1.0f, 0.5f, x, y);
    EXPECT_VEC_NEAR(BX_Vector3(x, y, 0.0f), 1.0f, 0.0f, 0.0f, 1e-6f);
    // t gives the cosine 2t - 1, s the azimuth from the first tangent.
    BX_PolarSample framed(BX_Vector3(0, 0, 1), BX_Vector3(1, 0, 0), BX_Vector3(0, 1, 0));
    BX_Vector3 d;
    framed.compute(d, 0.25f, 0.5f);
    EXPECT_VEC_NEAR(d, 0.0f, 1.0f, 0.0f, 1e-6f);
    framed.compute(d, 0.0f, 0.75f);
    EXPECT_VEC_NEAR(d, std::sqrt(0.75f), 0.0f, 0.5f, 1e-6f);

    std::mt19937 rng(3);
    std::vector<BX_Vector3> dirs = {BX_Vector3(0, 0, 1), BX_Vector3(0, 0, -1), BX_Vector3(0, 1e-7f, -1)};
    for (int i = 0; i < 20000; ++i)
        dirs.push_back(TestUtil::randomUnit(rng));
    for (const BX_Vector3 &n : dirs)
    {
        BX_Vector3 a, b;
        n.getFrameOfReference(a, b);
        ASSERT_NEAR(a.length(), 1.0f, 1e-5f);
        ASSERT_NEAR(b.length(), 1.0f, 1e-5f);
        ASSERT_NEAR(a.dot(b), 0.0f, 1e-5f);
        ASSERT_NEAR(a.dot(n), 0.0f, 1e-5f);
        ASSERT_NEAR((a.cross(b) - n).length(), 0.0f, 1e-5f); // right-handed
    }
    BX_Vector3 zero, v(3.0f, 0.0f, 4.0f);
    zero.normalize();
    EXPECT_TRUE(zero == BX_Vector3(0, 0, 0));
    EXPECT_EQ(v.normalize(), 5.0f);
    EXPECT_TRUE(v == BX_Vector3(0.6f, 0.0f, 0.8f));
}

TEST(BxAllocator, ExactSizesUnderThreads)
{
    BX_SmallObjectAllocator alloc(false, 32, 128, true);
    void *big = alloc.allocate(129); // above the pooled sizes: the heap
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [&alloc, t]
            {
                std::vector<std::pair<char *, std::size_t>> held;
                for (int i = 0; i < 20000; ++i)
                {
                    const std::size_t size = 8 + std::size_t((i * 7 + t) % 121);
                    held.emplace_back(static_cast<char *>(alloc.allocate(size)), size);
                    std::memset(held.back().first, t, size);
                    if (held.size() <= 50 && i + 1 < 20000)
                        continue;
                    for (auto &[p, n] : held)
                    {
                        for (std::size_t k = 0; k < n; ++k)
                            ASSERT_EQ(p[k], char(t)); // nobody else wrote here
                        alloc.deallocate(p, n);
                    }
                    held.clear();
                }
            });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(alloc.outstanding(), 1);
    alloc.deallocate(big, 129);
    EXPECT_EQ(alloc.outstanding(), 0);
}

namespace
{
// A 1-based n x n matrix from rows in reading order.
void fill(BX_Matrix &m, int n, const std::vector<double> &values)
{
    ASSERT_TRUE(m.init(1, n, 1, n));
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c)
            m(r, c) = float(values[(r - 1) * n + (c - 1)]);
}
} // namespace

// The fitting's normal equations: a system whose first pivot is 0, random
// 7 x 7 systems, singular matrices refused, lambda I making a zero matrix
// solvable, and J^T J by hand.
TEST(BxLinalg, SolvesWithPivotingAndRefusesSingularMatrices)
{
    BX_MatrixSolver solver;
    BX_PermutationT<int> perm;
    float sign = 0.0f;
    BX_Matrix m;
    fill(m, 3, {0, 2, 1, 1, 1, 1, 2, 1, 3});
    BX_VectorT<double> b(1, 3);
    b(1) = 7.0, b(2) = 6.0, b(3) = 13.0; // x = (1, 2, 3)
    ASSERT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 1);
    EXPECT_EQ(perm(1), 3);
    solver.LUDecompBackSub(m, perm, b);
    EXPECT_NEAR(b(1), 1.0, 1e-6);
    EXPECT_NEAR(b(2), 2.0, 1e-6);
    EXPECT_NEAR(b(3), 3.0, 1e-6);

    std::mt19937 rng(5);
    std::uniform_real_distribution<double> r(-0.5, 0.5);
    for (int trial = 0; trial < 10; ++trial)
    {
        std::vector<double> a(49), x(7);
        for (int i = 0; i < 49; ++i)
            a[i] = r(rng) + (i % 8 == 0 ? 4.0 : 0.0); // diagonally dominant
        BX_VectorT<double> rhs(1, 7);
        for (int i = 0; i < 7; ++i)
            x[i] = 10.0 * r(rng);
        for (int i = 0; i < 7; ++i)
        {
            rhs(i + 1) = 0.0;
            for (int k = 0; k < 7; ++k)
                rhs(i + 1) += double(float(a[i * 7 + k])) * x[k];
        }
        fill(m, 7, a);
        ASSERT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 1);
        solver.LUDecompBackSub(m, perm, rhs);
        for (int i = 0; i < 7; ++i)
            EXPECT_NEAR(rhs(i + 1), x[i], 1e-4);
    }

    for (const std::vector<double> &singular :
         {std::vector<double>{1, 2, 3, 2, 4, 6, 1, 0, 1}, {1, 0, 3, 2, 0, 6, 1, 0, 1}})
    {
        fill(m, 3, singular);
        EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0);
    }
    for (const std::vector<double> &singular : {std::vector<double>{1e-25, 0, 0, 1e-25}, {std::nan(""), 1, 1, 1}})
    {
        fill(m, 2, singular);
        EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0);
    }
    BX_Matrix identity;
    ASSERT_TRUE(identity.init(1, 2, 1, 2));
    identity.makeIdentity();
    fill(m, 2, {0, 0, 0, 0});
    ASSERT_TRUE(m.addScaledMatrix(identity, 0.5f));
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 1);

    BX_Matrix j, jt, jtj;
    ASSERT_TRUE(j.init(1, 2, 1, 3));
    for (int k = 0; k < 6; ++k)
        j(1 + k / 3, 1 + k % 3) = float(k + 1); // [[1, 2, 3], [4, 5, 6]]
    ASSERT_TRUE(jt.transpose(j));
    ASSERT_TRUE(jt.postMult(j, jtj));
    EXPECT_TRUE(jtj.rows() == 3 && jtj(1, 1) == 17.0f && jtj(2, 3) == 36.0f && jtj(3, 3) == 45.0f);
    EXPECT_FALSE(j.postMult(j, jtj));
    BX_VectorT<double> residual(1, 2), g;
    residual(1) = 1.0, residual(2) = -1.0;
    ASSERT_TRUE(jt.multVec(residual, g));
    EXPECT_TRUE(g.length() == 3 && g(1) == -3.0 && g(3) == -3.0);
}

// Tokens never empty; lines of a file with the last one unterminated; only
// regular files open (a device named as a measurement file used to hang the
// reader); the symbol table under the lock loses no name among threads.
TEST(BxText, TokensLinesFilesAndSymbolsUnderThreads)
{
    BX_WorkBuffer line, token;
    ASSERT_TRUE(line.append("  a, b,,c\t\r"));
    std::vector<std::string> tokens;
    while (line.getNextToken(token, ", \t\n\r"))
        tokens.push_back(token.buffer());
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_STREQ(token.buffer(), "");

    const std::string path = std::string(SRF_BINARY_TEST_DIR) + "/bx_lines.txt";
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fputs("one\r\n\ntwo", f);
    std::fclose(f);
    BX_IFStream in;
    ASSERT_TRUE(in.open(path.c_str(), 0));
    std::vector<std::string> lines;
    while (!in.isEof())
        if (in.getLine(line, '\n'), true)
            lines.push_back(line.buffer());
    EXPECT_EQ(lines, (std::vector<std::string>{"one\r", "", "two"}));
    in.close();
    std::remove(path.c_str());
    for (const std::string &bad : {path, std::string("/dev/zero"), std::string(SRF_BINARY_TEST_DIR)})
    {
        BX_IFStream s;
        EXPECT_FALSE(s.open(bad.c_str(), 0)) << bad;
        EXPECT_TRUE(s.isEof());
    }

    BX_SymbolTable table;
    int a = 1;
    BX_Lock lock(false, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back(
            [&, t]()
            {
                for (int i = 0; i < 200; ++i)
                {
                    lock.lockLW();
                    table.addSymbol((std::to_string(t) + ":" + std::to_string(i)).c_str(), BX_Thing(&a));
                    lock.unlock();
                }
            });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(table.entries(), 8 * 200);
    BX_Thing thing;
    EXPECT_TRUE(table.findSymbol("7:199", &thing));
    EXPECT_EQ(thing.getPointer(), &a);
    EXPECT_FALSE(table.findSymbol("8:0", &thing));
}
