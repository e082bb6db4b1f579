#include "BX_IFStream.h"
#include "BX_Lock.h"
#include "BX_Matrix.h"
#include "BX_MatrixSolver.h"
#include "BX_PermutationT.h"
#include "BX_String.h"
#include "BX_SymbolTable.h"
#include "BX_VectorT.h"
#include "BX_WorkBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace
{
// Fills a 1-based n x n matrix from rows given in reading order.
void fill(BX_Matrix &m, int n, const double *values)
{
    ASSERT_TRUE(m.init(1, n, 1, n));
    for (int r = 1; r <= n; ++r)
        for (int c = 1; c <= n; ++c)
            m(r, c) = static_cast<float>(values[(r - 1) * n + (c - 1)]);
}
} // namespace

// A 3x3 system whose first pivot is 0 (so pivoting must swap rows), with the
// solution worked out by hand: x = (1, 2, 3).
TEST(BxLinalg, SolvesSystemThatNeedsPivoting)
{
    const double a[] = {0, 2, 1, 1, 1, 1, 2, 1, 3};
    BX_Matrix m;
    fill(m, 3, a);
    BX_VectorT<double> b(1, 3);
    b(1) = 0 * 1 + 2 * 2 + 1 * 3;
    b(2) = 1 + 2 + 3;
    b(3) = 2 + 2 + 9;
    BX_PermutationT<int> perm;
    BX_MatrixSolver solver;
    float sign = 0.0f;
    ASSERT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 1);
    EXPECT_TRUE(sign == 1.0f || sign == -1.0f);
    // The largest first-column entry (row 3, value 2) is the first pivot.
    EXPECT_EQ(perm(1), 3);
    solver.LUDecompBackSub(m, perm, b);
    EXPECT_NEAR(b(1), 1.0, 1e-6);
    EXPECT_NEAR(b(2), 2.0, 1e-6);
    EXPECT_NEAR(b(3), 3.0, 1e-6);
}

// Random well-conditioned 7x7 systems (the size of the fitting's normal
// equations): the residual of the solution is at float precision.
TEST(BxLinalg, SolvesRandomSystems)
{
    unsigned state = 12345u;
    auto next = [&state]()
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1 << 24) - 0.5;
    };
    for (int trial = 0; trial < 20; ++trial)
    {
        const int n = 7;
        double a[n * n], x[n], rhs[n];
        for (int i = 0; i < n * n; ++i)
            a[i] = next();
        for (int i = 0; i < n; ++i)
        {
            a[i * n + i] += 4.0; // diagonally dominant
            x[i] = next() * 10.0;
        }
        BX_Matrix m, copy;
        fill(m, n, a);
        fill(copy, n, a);
        for (int r = 0; r < n; ++r)
        {
            rhs[r] = 0.0;
            for (int c = 0; c < n; ++c)
                rhs[r] += copy(r + 1, c + 1) * x[c];
        }
        BX_VectorT<double> b(1, n);
        for (int i = 0; i < n; ++i)
            b(i + 1) = rhs[i];
        BX_PermutationT<int> perm;
        BX_MatrixSolver solver;
        float sign;
        ASSERT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 1);
        solver.LUDecompBackSub(m, perm, b);
        for (int i = 0; i < n; ++i)
            EXPECT_NEAR(b(i + 1), x[i], 1e-4) << "trial " << trial;
    }
}

// Singular matrices are refused: a repeated row, a zero column, a matrix of
// zeros, a NaN, and a matrix that is not square.
TEST(BxLinalg, RefusesSingularMatrices)
{
    BX_MatrixSolver solver;
    BX_PermutationT<int> perm;
    float sign;
    const double repeated[] = {1, 2, 3, 2, 4, 6, 1, 0, 1};
    const double zeroColumn[] = {1, 0, 3, 2, 0, 6, 1, 0, 1};
    const double zeros[] = {0, 0, 0, 0};
    BX_Matrix m;
    fill(m, 3, repeated);
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0);
    fill(m, 3, zeroColumn);
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0);
    fill(m, 2, zeros);
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0);
    const double tiny[] = {1e-25, 0, 0, 1e-25};
    fill(m, 2, tiny);
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0) << "pivots below the tolerance";
    const double nan[] = {std::nan(""), 1, 1, 1};
    fill(m, 2, nan);
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 0);
    BX_Matrix rect;
    ASSERT_TRUE(rect.init(1, 2, 1, 3));
    EXPECT_EQ(solver.LUDecompRect(rect, perm, sign, 1e-20), 0);
    // lambda I added to a zero matrix makes it solvable (the damping of the
    // fitting relies on it).
    BX_Matrix identity;
    ASSERT_TRUE(identity.init(1, 2, 1, 2));
    identity.makeIdentity();
    fill(m, 2, zeros);
    ASSERT_TRUE(m.addScaledMatrix(identity, 0.5f));
    EXPECT_EQ(solver.LUDecompRect(m, perm, sign, 1e-20), 1);
}

// Transpose, products and matrix-vector products on a 2x3 example.
TEST(BxLinalg, MatrixArithmetic)
{
    BX_Matrix j, jt, a;
    ASSERT_TRUE(j.init(1, 2, 1, 3));
    const float values[2][3] = {{1, 2, 3}, {4, 5, 6}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c)
            j(r + 1, c + 1) = values[r][c];
    ASSERT_TRUE(jt.transpose(j));
    EXPECT_EQ(jt.rows(), 3);
    EXPECT_EQ(jt.columns(), 2);
    EXPECT_EQ(jt(3, 1), 3.0f);
    EXPECT_EQ(jt(1, 2), 4.0f);
    // J^T J = [[17, 22, 27], [22, 29, 36], [27, 36, 45]].
    ASSERT_TRUE(jt.postMult(j, a));
    EXPECT_EQ(a.rows(), 3);
    EXPECT_EQ(a.columns(), 3);
    EXPECT_EQ(a(1, 1), 17.0f);
    EXPECT_EQ(a(2, 3), 36.0f);
    EXPECT_EQ(a(3, 3), 45.0f);
    EXPECT_FALSE(j.postMult(j, a)) << "2x3 times 2x3 has no product";
    BX_VectorT<double> r(1, 2), g;
    r(1) = 1.0;
    r(2) = -1.0;
    ASSERT_TRUE(jt.multVec(r, g));
    EXPECT_EQ(g.length(), 3);
    EXPECT_EQ(g(1), -3.0);
    EXPECT_EQ(g(3), -3.0);
}

// Tokens: runs of separators divide tokens, so none is empty; a carriage
// return is a separator when listed.
TEST(BxText, TokensAndLines)
{
    BX_WorkBuffer line, token;
    ASSERT_TRUE(line.append("  a, b,,c\t\r"));
    std::vector<std::string> tokens;
    while (line.getNextToken(token, ", \t\n\r"))
        tokens.push_back(token.buffer());
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(line.getNextToken(token, ", \t\n\r"));
    EXPECT_STREQ(token.buffer(), "") << "no stale token is left when none is found";

    BX_String s("abc");
    EXPECT_FALSE(s.isHard());
    char text[] = "xyz";
    s.harden(text, -1);
    text[0] = 'q';
    EXPECT_STREQ(s.buffer(), "xyz");
    BX_String t(s);
    EXPECT_STREQ(t.buffer(), "xyz");

    // Lines of a file: the last line without a newline is read, and the
    // stream is at its end right after it. A missing file is at its end.
    const std::string path = std::string(SRF_BINARY_TEST_DIR) + "/bx_lines.txt";
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("one\r\n\ntwo", f);
    std::fclose(f);
    BX_IFStream in;
    ASSERT_TRUE(in.open(path.c_str(), 0));
    std::vector<std::string> lines;
    while (!in.isEof())
    {
        in.getLine(line, '\n');
        lines.push_back(line.buffer());
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"one\r", "", "two"}));
    in.close();
    std::remove(path.c_str());
    BX_IFStream missing;
    EXPECT_FALSE(missing.open((path + ".missing").c_str(), 0));
    EXPECT_TRUE(missing.isEof());
    EXPECT_FALSE(missing.getLine(line, '\n'));

    // Only regular files are read: a device that never ends, named as a
    // measurement file by a shader, used to hang the reader for good; it and
    // a folder now read as empty.
    BX_IFStream device;
    EXPECT_FALSE(device.open("/dev/zero", 0));
    EXPECT_TRUE(device.isEof());
    BX_IFStream folder;
    EXPECT_FALSE(folder.open(SRF_BINARY_TEST_DIR, 0));
    EXPECT_TRUE(folder.isEof());
}

// The symbol table finds what was entered, reports what was not, and with
// the lock, eight threads entering names at once lose none.
TEST(BxText, SymbolTableAndLock)
{
    BX_SymbolTable table;
    int a = 1, b = 2;
    EXPECT_TRUE(table.addSymbol("a", BX_Thing(&a)));
    EXPECT_TRUE(table.addSymbol("b", BX_Thing(&b)));
    BX_Thing thing;
    EXPECT_TRUE(table.findSymbol("a", &thing));
    EXPECT_EQ(thing.getPointer(), &a);
    EXPECT_FALSE(table.findSymbol("c", &thing));
    EXPECT_EQ(table.entries(), 2);

    BX_Lock lock(false, true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back(
            [&, t]()
            {
                for (int i = 0; i < 200; ++i)
                {
                    const std::string name = std::to_string(t) + ":" + std::to_string(i);
                    lock.lockLW();
                    table.addSymbol(name.c_str(), BX_Thing(&a));
                    lock.unlock();
                }
            });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(table.entries(), 2 + 8 * 200);
}
