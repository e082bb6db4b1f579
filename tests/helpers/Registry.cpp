#include "Registry.h"

#include "KAL_DataPool.h"
#include "SRF_Isotropic.h"
#include "SRF_LobeKernels.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredPhong.h"
#include "SRF_MulBSDF.h"
#include "SRF_Phong.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_Specular.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "SRF_WaveletBSDF.h"

#include <cstring>
#include <string>

BX_Vector3 *Registry::Maker::v(int k)
{
    BX_Vector3 *block = SRF_BSDF::allocVector();
    for (int i = 0; i < KAL_MAX_LANES; ++i)
        block[i] = fill(i).v[k];
    vectors.push_back(block);
    return block;
}

float *Registry::Maker::f(int k)
{
    float *block = SRF_BSDF::allocFloat();
    for (int i = 0; i < KAL_MAX_LANES; ++i)
        block[i] = fill(i).f[k];
    floats.push_back(block);
    return block;
}

namespace
{
using Registry::Maker;

// The fit of the bundled example, made once and kept for the process, as the
// measured-data cache keeps its data sets.
SRF_MeasuredData *exampleData()
{
    static SRF_MeasuredPhong *data =
        new SRF_MeasuredPhong((std::string(SRF_SOURCE_DIR) + "/examples/red_plastic.astm").c_str());
    return data;
}

// A lobe of kernel K on blocks taken field by field, in the order flatten
// lists them: the k-th vector field from the lane's k-th vector, the k-th
// float field from its k-th float.
template <class K> SRF_BSDF *makeLobe(Maker &m)
{
    SRF_LobeBlocks blocks;
    int vectors = 0, floats = 0;
    for (int field = 0; field < K::BLOCKS; ++field)
        blocks.block[field] = K::FIELDS[field].kind == SRF_BLOCK_VECTOR ? static_cast<void *>(m.v(vectors++))
                                                                        : static_cast<void *>(m.f(floats++));
    return new typename K::Class(blocks);
}

std::vector<Registry::Class> allClasses()
{
    std::vector<Registry::Class> classes;
    SRF_LobeKernels::forEach(
        [&](auto kernel)
        {
            using K = decltype(kernel);
            classes.push_back({K::NAME, K::BOUNCES, Registry::ANALYTIC, true, makeLobe<K>});
        });
    // Composites over lobes; blocks are taken in the order flatten lists
    // them, so the calls are sequenced through locals.
    const std::vector<Registry::Class> others = {
        {"SRF_SumBSDF", 3, Registry::COMPOSITE, true,
         [](Maker &m) -> SRF_BSDF *
         {
             SRF_BSDF *phong = new SRF_Phong(m.v(0), m.f(0));
             return new SRF_SumBSDF(phong, new SRF_Isotropic());
         }},
        {"SRF_ScaleBSDF", 2, Registry::COMPOSITE, true,
         [](Maker &m) -> SRF_BSDF *
         {
             BX_Vector3 *colours = m.v(1);
             return new SRF_ScaleBSDF(new SRF_Blinn(m.v(0), m.f(0)), colours);
         }},
        {"SRF_MulBSDF", 4, Registry::COMPOSITE, true,
         [](Maker &m) -> SRF_BSDF *
         {
             // The mirror (ratio 1) is stored first, whatever the order given.
             SRF_BSDF *mirror = new SRF_Specular(m.v(0));
             return new SRF_MulBSDF(new SRF_Isotropic(), mirror);
         }},
        {"SRF_SwitchBSDF", 3, Registry::COMPOSITE, true,
         [](Maker &m) -> SRF_BSDF *
         {
             BX_PtrArray<SRF_BSDF *> entries;
             entries.append(new SRF_Phong(m.v(0), m.f(0)));
             entries.append(new SRF_Isotropic());
             int *index = SRF_BSDF::allocInteger();
             for (int i = 0; i < KAL_MAX_LANES; ++i)
                 index[i] = i % 3; // 2 lies outside the list: a null lane
             return new SRF_SwitchBSDF(entries, index);
         }},
        {"SRF_Measured", 1, Registry::DATA, true,
         [](Maker &m) -> SRF_BSDF *
         {
             BX_Vector3 *n = m.v(0), *s = m.v(1), *t = m.v(2);
             return new SRF_Measured(exampleData(), n, s, t);
         }},
        {"SRF_WaveletBSDF", 7, Registry::DATA, false,
         [](Maker &) -> SRF_BSDF *
         {
             // Two 4 x 4 tables; no pooled blocks.
             float tables[32];
             for (int i = 0; i < 32; ++i)
                 tables[i] = 0.1f + 0.05f * float((i * 7) % 11);
             SRF_WaveletBSDF *w = new SRF_WaveletBSDF(2, 2);
             w->construct(tables);
             return w;
         }},
    };
    classes.insert(classes.end(), others.begin(), others.end());
    return classes;
}
const std::vector<Registry::Class> theClasses = allClasses();
} // namespace

const std::vector<Registry::Class> &Registry::all() { return theClasses; }

const Registry::Class &Registry::named(const char *name)
{
    for (const Class &c : theClasses)
        if (std::strcmp(c.name, name) == 0)
            return c;
    return theClasses.front();
}

SRF_BSDF *Registry::make(const char *name, const Lane &lane)
{
    Maker maker([lane](int) { return lane; });
    return named(name).make(maker);
}

Registry::Lane Registry::varied(int lane)
{
    const float l = float(lane);
    Lane p;
    p.v[0] = BX_Vector3(0.1f * float(lane % 7) - 0.3f, 0.3f, 1.0f + 0.01f * l);
    p.v[1] = BX_Vector3(0.9f, 0.2f - 0.01f * l, 0.1f);
    p.v[2] = BX_Vector3(-0.2f, 0.8f, 0.3f + 0.005f * l);
    p.f[0] = 0.5f + 0.25f * float(lane % 40);
    p.f[1] = 3.0f + 0.5f * float(lane % 30);
    return p;
}
