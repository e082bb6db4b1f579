// Leak accounting over thousands of random op programs: constructors (native
// and through rewrites), every pairing of the arithmetic ops (null operands,
// a variable with itself, lobes and composites), overwrites and queries, run
// over random lane masks and duplicated. After each program the pool and the
// count of reference-counted values must be back where they started.
#include "KAL_DataPool.h"
#include "Program.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

TEST(Leaks, RandomProgramsGiveEverythingBack)
{
    // One character per operand: B a BSDF variable, V a vector, F a float,
    // I a mask, S the file name, O a written vector, P a written float, Q a
    // written int.
    const std::pair<const char *, const char *> calls[] = {
        {"isotropic@B", "B"},
        {"lafortune@BVVF", "BVVF"},
        {"ashikhmin@BVFFVV", "BVFFVV"},
        {"blinn@BVF", "BVF"},
        {"specular@BV", "BV"},
        {"phonglobe@BVF", "BVF"},
        {"cone@BVF", "BVF"},
        {"wirediffuse@BV", "BV"},
        {"wireblinn@BVF", "BVF"},
        {"set@BF", "BF"},
        {"set@BV", "BV"},
        {"measured@BSVVV", "BSVVV"},
        {"diffuse@B", "B"},
        {"phong@BF", "BF"},
        {"add@BB", "BB"},
        {"mul@BB", "BB"},
        {"mul@BF", "BF"},
        {"mul@BV", "BV"},
        {"add@BB", "BB"},
        {"mul@BB", "BB"},
        {"sample_bsdf@BVVVVIFFI", "BVVOOQFFI"},
        {"eval_bsdf@VBVVVI", "OBVVVI"},
        {"albedo@VBVVI", "OBVVI"},
        {"emission_bsdf@VB", "OB"},
        {"specularratio_bsdf@FBI", "PBI"},
        {"getbounces@IB", "QB"},
    };
    const std::vector<std::string> operands[] = {
        {"F", "b0", "b1", "b2", "b3"},
        {"v", "w", "N", "dPds", "dPdt", "(0.5, 0.5, 0.5)", "(0, 0, 0)"},
        {"e", "s", "0", "-1", "2.5", "1e30"},
        {"m", "0", "1", "7", "15"},
    };
    std::mt19937 random(20261206u);
    int failures = 0;
    for (int program = 0; program < 3000 && failures < 3; ++program)
    {
        const long blocks = KAL_DataPool::getDataPool().blocksOut(), objects = KAL_RefType::liveObjects();
        const bool varying = random() % 2 == 0;
        std::string text = std::string(varying ? "varying " : "") + "vector v = 0.3 0.6 0.9\nvector w = (0, 0, 1)\n" +
                           (varying ? "varying " : "") +
                           "float e = 12\nfloat s = 0.5\nint m = 15\n"
                           "string name = \"leaks_missing.astm\"\nvarying vector out\nvarying vector col\n"
                           "varying float r\nvarying int k\nbsdf b0\nbsdf b1\nbsdf b2\nbsdf b3\n";
        for (int c = 1 + int(random() % 24); c > 0; --c)
        {
            const auto &[signature, kinds] = calls[random() % (sizeof calls / sizeof calls[0])];
            text += signature;
            for (const char *k = kinds; *k; ++k)
            {
                const int list = *k == 'B' ? 0 : *k == 'V' ? 1 : *k == 'F' ? 2 : *k == 'I' ? 3 : -1;
                text += " " + (list >= 0   ? operands[list][random() % operands[list].size()]
                               : *k == 'S' ? "name"
                               : *k == 'O' ? (random() % 2 ? "out" : "col")
                               : *k == 'P' ? "r"
                                           : "k");
            }
            text += "\n";
        }
        {
            Program p(text);
            ASSERT_TRUE(p.ok()) << p.error << "\n" << text;
            p->fillVector("N", BX_Vector3(0, 0, 1));
            p->fillVector("dPds", BX_Vector3(1, 0, 0));
            p->fillVector("dPdt", BX_Vector3(0, 1, 0));
            for (int run = 1 + int(random() % 3); run > 0; --run)
            {
                // Most runs use a few lanes, some the full width; lane masks
                // from all running to none running.
                KAL_ProcArray lanes(random() % 8 == 0 ? KAL_MAX_LANES : 1 + int(random() % 16));
                const unsigned stopEvery = random() % 5;
                for (int lane = 0; lane < lanes.getCount(); ++lane)
                    if (stopEvery == 1 || (stopEvery > 1 && random() % stopEvery == 0))
                        lanes.setState(lane, 1);
                p->run(lanes);
            }
            if (SRF_BSDF *f = p.bsdf("F"))
                if (SRF_BSDF *copy = f->duplicate(16))
                    copy->decRefCount();
        }
        if (KAL_DataPool::getDataPool().blocksOut() != blocks || KAL_RefType::liveObjects() != objects)
        {
            ++failures;
            ADD_FAILURE() << "program " << program << " left pool blocks or values behind:\n" << text;
        }
    }
}
