// The BSDF class of the module: constructors for every lobe and composite,
// the arithmetic operators, and the queries over arrays.

#include "SrfPyArrays.h"
#include "SrfPyBSDF.h"
#include "SrfPyBind.h"
#include "SrfPyQueries.h"

#include "SRF_ArithmeticOps.h"
#include "SRF_Ashikhmin.h"
#include "SRF_Blinn.h"
#include "SRF_Cone.h"
#include "SRF_Emission.h"
#include "SRF_Isotropic.h"
#include "SRF_Lafortune.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredCache.h"
#include "SRF_MulBSDF.h"
#include "SRF_Phong.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_Specular.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"
#include "SRF_WireBlinn.h"
#include "SRF_WireDiffuse.h"

#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace py = pybind11;
using Floats = SrfPyArrays::Floats;
using Ints = SrfPyArrays::Ints;

namespace
{
const int SCATTER = SRF_BOUNCE_SCATTER;
const int CHUNK = SrfPyBSDF::CHUNK;

// The pooled blocks of one chunk under construction: released unless a new
// BSDF adopted them.
class Blocks
{
public:
    ~Blocks()
    {
        for (BX_Vector3 *block : myVectors)
            SRF_BSDF::release(block);
        for (float *block : myFloats)
            SRF_BSDF::release(block);
        for (int *block : myInts)
            SRF_BSDF::release(block);
    }
    BX_Vector3 *vectors(const Floats &rows, int k)
    {
        BX_Vector3 *block = checked(SRF_BSDF::allocVector(), myVectors);
        SrfPyArrays::fillBlock(block, CHUNK, SrfPyArrays::vectorData(rows), SrfPyArrays::rows(rows), k);
        return block;
    }
    float *floats(const Floats &rows, int k)
    {
        float *block = checked(SRF_BSDF::allocFloat(), myFloats);
        SrfPyArrays::fillBlock(block, CHUNK, rows.data(), SrfPyArrays::rows(rows), k);
        return block;
    }
    int *ints(const Ints &rows, int k)
    {
        int *block = checked(SRF_BSDF::allocInteger(), myInts);
        SrfPyArrays::fillBlock(block, CHUNK, rows.data(), SrfPyArrays::rows(rows), k);
        return block;
    }
    // The new BSDF owns the blocks from now on.
    SRF_BSDF *adopt(SRF_BSDF *bsdf)
    {
        if (bsdf)
        {
            myVectors.clear();
            myFloats.clear();
            myInts.clear();
        }
        return bsdf;
    }

private:
    template <class T> static T *checked(T *block, std::vector<T *> &list)
    {
        if (!block)
            throw std::bad_alloc();
        list.push_back(block);
        return block;
    }
    std::vector<BX_Vector3 *> myVectors;
    std::vector<float *> myFloats;
    std::vector<int *> myInts;
};

// A BSDF over `lanes` lanes whose chunk k is make(blocks, k).
template <class Make> SrfPyBSDF *build(long lanes, Make make)
{
    SrfPyBSDF::Builder builder(lanes);
    for (int k = 0; k < builder.count(); ++k)
    {
        Blocks blocks;
        builder.add(make(blocks, k));
    }
    return builder.finish();
}

// The lane count of a lobe whose parameters have these row counts.
long lobeLanes(std::initializer_list<std::pair<const char *, long>> parameters)
{
    long lanes = 1;
    for (const auto &parameter : parameters)
        lanes = SrfPyArrays::commonRows(lanes, parameter.second, parameter.first);
    return lanes;
}

// A composite's chunk, holding one more reference to each operand; refused
// (ValueError) when a query would visit more nodes than the shading ops
// allow a tree, since queries cost time in proportion.
SRF_BSDF *checkedComposite(SRF_BSDF *composite, const char *what)
{
    if (!composite)
        throw std::bad_alloc();
    if (SRF_CompositeBSDF::queryNodes(composite) > SRF_MAX_TREE_NODES)
    {
        composite->decRefCount();
        throw py::value_error(std::string(what) + ": a query of the result would visit more than " +
                              std::to_string(SRF_MAX_TREE_NODES) + " nodes");
    }
    return composite;
}

template <class Pair> SrfPyBSDF *combine(const SrfPyBSDF &a, const SrfPyBSDF &b, const char *what)
{
    return build(SrfPyBSDF::commonLanes(a.lanes(), b.lanes(), what),
                 [&](Blocks &, int k)
                 {
                     SRF_BSDF *first = a.chunkFor(k), *second = b.chunkFor(k);
                     first->addRefCount();
                     second->addRefCount();
                     SRF_BSDF *composite = new Pair(first, second);
                     if (!composite)
                     {
                         first->decRefCount();
                         second->decRefCount();
                     }
                     return checkedComposite(composite, what);
                 });
}

SrfPyBSDF *scale(const SrfPyBSDF &a, py::handle colour)
{
    const Floats colours = SrfPyArrays::colours(colour, "colour");
    return build(SrfPyBSDF::commonLanes(a.lanes(), SrfPyArrays::rows(colours), "Scale (BSDF and colour)"),
                 [&](Blocks &blocks, int k)
                 {
                     SRF_BSDF *operand = a.chunkFor(k);
                     BX_Vector3 *block = blocks.vectors(colours, k);
                     operand->addRefCount();
                     SRF_BSDF *composite = blocks.adopt(new SRF_ScaleBSDF(operand, block));
                     if (!composite)
                         operand->decRefCount();
                     return checkedComposite(composite, "Scale");
                 });
}

SrfPyBSDF *switchOf(const std::vector<const SrfPyBSDF *> &entries, py::handle index)
{
    const Ints indices = SrfPyArrays::ints(index, "index");
    long lanes = SrfPyArrays::rows(indices);
    for (const SrfPyBSDF *entry : entries)
    {
        if (!entry)
            throw py::value_error("Switch: an entry is None (every entry must be a BSDF)");
        lanes = SrfPyBSDF::commonLanes(lanes, entry->lanes(), "Switch (index and entries)");
    }
    return build(lanes,
                 [&](Blocks &blocks, int k)
                 {
                     int *block = blocks.ints(indices, k);
                     BX_PtrArray<SRF_BSDF *> list;
                     for (const SrfPyBSDF *entry : entries)
                     {
                         list.append(entry->chunkFor(k));
                         entry->chunkFor(k)->addRefCount();
                     }
                     SRF_BSDF *composite = blocks.adopt(new SRF_SwitchBSDF(list, block));
                     if (!composite)
                         for (int i = 0; i < list.entries(); ++i)
                             list[i]->decRefCount();
                     return checkedComposite(composite, "Switch");
                 });
}

SrfPyBSDF *measured(const std::string &path, py::handle normal, py::handle dPds, py::handle dPdt)
{
    FILE *probe = fopen(path.c_str(), "r");
    if (!probe)
        throw py::value_error("cannot read '" + path + "': " + strerror(errno));
    fclose(probe);
    const Floats normals = SrfPyArrays::vectors(normal, "normal");
    const Floats s = SrfPyArrays::vectors(dPds, "dPds"), t = SrfPyArrays::vectors(dPdt, "dPdt");
    SRF_MeasuredData *data;
    {
        // The first use of a file reads and fits it, under the cache's lock.
        py::gil_scoped_release unlocked;
        data = SRF_MeasuredCache::instance().find(path.c_str());
    }
    if (!data)
        throw std::bad_alloc();
    const long lanes = lobeLanes(
        {{"normal", SrfPyArrays::rows(normals)}, {"dPds", SrfPyArrays::rows(s)}, {"dPdt", SrfPyArrays::rows(t)}});
    return build(lanes,
                 [&](Blocks &blocks, int k)
                 {
                     return blocks.adopt(new SRF_Measured(data, blocks.vectors(normals, k), blocks.vectors(s, k),
                                                          blocks.vectors(t, k)));
                 });
}

// --- Queries --------------------------------------------------------------

// The number of query rows for a BSDF of `lanes` lanes and inputs of these
// row counts: the BSDF's lane count unless it has one lane.
long queryRows(const SrfPyBSDF &bsdf, std::initializer_list<std::pair<const char *, long>> inputs)
{
    long rows = 1;
    for (const auto &input : inputs)
        rows = SrfPyArrays::commonRows(rows, input.second, input.first);
    if (bsdf.lanes() == 1)
        return rows;
    if (rows != 1 && rows != bsdf.lanes())
        throw py::value_error("the inputs have " + std::to_string(rows) + " rows but the BSDF has " +
                              std::to_string(bsdf.lanes()) + " lanes (give one row per lane, or one row for all)");
    return bsdf.lanes();
}

// Calls query(chunk, first row, row count) for every chunk of `rows` query
// rows, without the interpreter lock, looking for a Ctrl-C every
// SIGNAL_CHUNKS chunks.
template <class Query> void overChunks(const SrfPyBSDF &bsdf, long rows, Query query)
{
    const long SIGNAL_CHUNKS = 4096;
    py::gil_scoped_release unlocked;
    for (long first = 0; first < rows; first += CHUNK)
    {
        if (first > 0 && first / CHUNK % SIGNAL_CHUNKS == 0)
        {
            py::gil_scoped_acquire locked;
            if (PyErr_CheckSignals() != 0)
                throw py::error_already_set();
        }
        query(*bsdf.chunkFor(int(first / CHUNK)), first, int(std::min<long>(CHUNK, rows - first)));
    }
}

py::tuple evaluate(const SrfPyBSDF &bsdf, py::handle u, py::handle n, py::handle v, int mask)
{
    Floats us = SrfPyArrays::vectors(u, "u"), ns = SrfPyArrays::vectors(n, "n"), vs = SrfPyArrays::vectors(v, "v");
    const long rows =
        queryRows(bsdf, {{"u", SrfPyArrays::rows(us)}, {"n", SrfPyArrays::rows(ns)}, {"v", SrfPyArrays::rows(vs)}});
    us = SrfPyArrays::expand(us, rows);
    ns = SrfPyArrays::expand(ns, rows);
    vs = SrfPyArrays::expand(vs, rows);
    Floats colour = SrfPyArrays::newVectors(rows), scalar = SrfPyArrays::newFloats(rows);
    const BX_Vector3 *pu = SrfPyArrays::vectorData(us), *pn = SrfPyArrays::vectorData(ns),
                     *pv = SrfPyArrays::vectorData(vs);
    BX_Vector3 *pc = SrfPyArrays::vectorData(colour);
    float *ps = scalar.mutable_data();
    overChunks(bsdf, rows,
               [&](const SRF_BSDF &chunk, long i, int count)
               { SrfPyQueries::evaluate(chunk, count, pu + i, pn + i, pv + i, mask, pc + i, ps + i); });
    return py::make_tuple(colour, scalar);
}

// A random number of sample must lie in [0, 1]; NaN is passed on as it is.
void checkUnit(const Floats &values, const char *name)
{
    for (long i = 0; i < SrfPyArrays::rows(values); ++i)
        if (values.data()[i] < 0.0f || values.data()[i] > 1.0f)
            throw py::value_error(std::string(name) + " must lie in [0, 1]; row " + std::to_string(i) + " holds " +
                                  std::to_string(values.data()[i]));
}

py::tuple sample(const SrfPyBSDF &bsdf, py::handle u, py::handle n, py::handle sx, py::handle sy, int mask)
{
    Floats us = SrfPyArrays::vectors(u, "u"), ns = SrfPyArrays::vectors(n, "n");
    Floats xs = SrfPyArrays::floats(sx, "sx"), ys = SrfPyArrays::floats(sy, "sy");
    checkUnit(xs, "sx");
    checkUnit(ys, "sy");
    const long rows = queryRows(bsdf, {{"u", SrfPyArrays::rows(us)},
                                       {"n", SrfPyArrays::rows(ns)},
                                       {"sx", SrfPyArrays::rows(xs)},
                                       {"sy", SrfPyArrays::rows(ys)}});
    us = SrfPyArrays::expand(us, rows);
    ns = SrfPyArrays::expand(ns, rows);
    xs = SrfPyArrays::expand(xs, rows);
    ys = SrfPyArrays::expand(ys, rows);
    Floats direction = SrfPyArrays::newVectors(rows), colour = SrfPyArrays::newVectors(rows);
    Ints bounce = SrfPyArrays::newInts(rows);
    const BX_Vector3 *pu = SrfPyArrays::vectorData(us), *pn = SrfPyArrays::vectorData(ns);
    const float *px = xs.data(), *py_ = ys.data();
    BX_Vector3 *pd = SrfPyArrays::vectorData(direction), *pc = SrfPyArrays::vectorData(colour);
    int *pb = bounce.mutable_data();
    overChunks(bsdf, rows,
               [&](const SRF_BSDF &chunk, long i, int count)
               { SrfPyQueries::sample(chunk, count, pu + i, pn + i, px + i, py_ + i, mask, pd + i, pc + i, pb + i); });
    return py::make_tuple(direction, colour, bounce);
}

Floats albedo(const SrfPyBSDF &bsdf, py::handle u, py::handle n, int mask)
{
    Floats us = SrfPyArrays::vectors(u, "u"), ns = SrfPyArrays::vectors(n, "n");
    const long rows = queryRows(bsdf, {{"u", SrfPyArrays::rows(us)}, {"n", SrfPyArrays::rows(ns)}});
    us = SrfPyArrays::expand(us, rows);
    ns = SrfPyArrays::expand(ns, rows);
    Floats result = SrfPyArrays::newFloats(rows);
    const BX_Vector3 *pu = SrfPyArrays::vectorData(us), *pn = SrfPyArrays::vectorData(ns);
    float *pa = result.mutable_data();
    overChunks(bsdf, rows,
               [&](const SRF_BSDF &chunk, long i, int count)
               { SrfPyQueries::albedo(chunk, count, pu + i, pn + i, mask, pa + i); });
    return result;
}

Floats specularRatio(const SrfPyBSDF &bsdf, int mask)
{
    Floats result = SrfPyArrays::newFloats(bsdf.lanes());
    float *pr = result.mutable_data();
    overChunks(bsdf, bsdf.lanes(),
               [&](const SRF_BSDF &chunk, long i, int count)
               { SrfPyQueries::specularRatio(chunk, count, mask, pr + i); });
    return result;
}

Floats emission(const SrfPyBSDF &bsdf)
{
    Floats result = SrfPyArrays::newVectors(bsdf.lanes());
    BX_Vector3 *pc = SrfPyArrays::vectorData(result);
    overChunks(bsdf, bsdf.lanes(),
               [&](const SRF_BSDF &chunk, long i, int count) { SrfPyQueries::emission(chunk, count, pc + i); });
    return result;
}

Ints bounces(const SrfPyBSDF &bsdf)
{
    Ints result = SrfPyArrays::newInts(bsdf.lanes());
    int *pb = result.mutable_data();
    overChunks(bsdf, bsdf.lanes(),
               [&](const SRF_BSDF &chunk, long i, int count) { SrfPyQueries::bounces(chunk, count, pb + i); });
    return result;
}

std::string repr(const SrfPyBSDF &bsdf)
{
    return std::string("<srf.BSDF ") + bsdf.chunk(0).className() + ", " + std::to_string(bsdf.lanes()) +
           (bsdf.lanes() == 1 ? " lane>" : " lanes>");
}
} // namespace

void srfBindBSDFs(py::module_ &m)
{
    m.attr("DIFFUSE") = int(SRF_BOUNCE_DIFFUSE);
    m.attr("GLOSSY") = int(SRF_BOUNCE_GLOSSY);
    m.attr("SPECULAR") = int(SRF_BOUNCE_SPECULAR);
    m.attr("EMISSION") = int(SRF_BOUNCE_EMISSION);
    m.attr("SCATTER") = int(SRF_BOUNCE_SCATTER);
    m.attr("ALL") = int(SRF_BOUNCE_ALL);
    m.attr("CHUNK_LANES") = CHUNK;

    py::class_<SrfPyBSDF>(m, "BSDF", R"(A BSDF over one or more lanes, each lane with its own parameters.

Made by the constructors (srf.Phong, srf.Sum, ...), by arithmetic on BSDFs
(a + b, a * colour, a @ b) and by Shader.run. A BSDF of one lane answers
queries of any number of rows; a BSDF of N lanes answers row i with lane i,
and inputs of one row serve every lane.)")
        .def_property_readonly("lanes", &SrfPyBSDF::lanes, "The number of lanes.")
        .def_property_readonly(
            "class_name", [](const SrfPyBSDF &b) { return std::string(b.chunk(0).className()); },
            "The C++ class of the root node, e.g. 'SRF_Phong'.")
        .def("evaluate", &evaluate, py::arg("u"), py::arg("n"), py::arg("v"), py::arg("mask") = SCATTER,
             "Value for directions v seen from u about normal n: (colours (M, 3), scalars (M,)), float32.")
        .def("sample", &sample, py::arg("u"), py::arg("n"), py::arg("sx"), py::arg("sy"), py::arg("mask") = SCATTER,
             "Draws directions from random numbers sx, sy in [0, 1]: (directions (M, 3), colours (M, 3), bounce "
             "types (M,) int32). A row the mask leaves out is all zeros.")
        .def("albedo", &albedo, py::arg("u"), py::arg("n"), py::arg("mask") = SCATTER,
             "Albedo for u about n: (M,) float32. It is each lobe's own scalar (the scalar that evaluate and "
             "sample return), by which a sum chooses which operand to sample; it is not the reflectance, which "
             "is the mean colour that sample returns over many draws.")
        .def("specular_ratio", &specularRatio, py::arg("mask") = SCATTER, "Specular ratio per lane: (lanes,).")
        .def("emission", &emission, "Emitted colour per lane: (lanes, 3).")
        .def("bounces", &bounces, "Bounce types per lane (bits DIFFUSE, GLOSSY, SPECULAR, EMISSION): (lanes,).")
        .def("dump", &SrfPyBSDF::dump, "The tree, one line per node.")
        .def("duplicate", &SrfPyBSDF::duplicate, "A deep copy with new parameter blocks.")
        .def("__add__", [](const SrfPyBSDF &a, const SrfPyBSDF &b) { return combine<SRF_SumBSDF>(a, b, "Sum"); })
        .def("__matmul__", [](const SrfPyBSDF &a, const SrfPyBSDF &b) { return combine<SRF_MulBSDF>(a, b, "Mul"); })
        .def("__mul__",
             [](const SrfPyBSDF &a, py::object colour) -> SrfPyBSDF *
             {
                 if (py::isinstance<SrfPyBSDF>(colour))
                     throw py::type_error("the product of two BSDFs is a @ b (or srf.Mul(a, b)); a * c scales a by "
                                          "a colour c");
                 return scale(a, colour);
             })
        .def("__rmul__", [](const SrfPyBSDF &a, py::object colour) { return scale(a, colour); })
        .def("__repr__", &repr);

    m.def(
        "Isotropic", [] { return build(1, [](Blocks &, int) { return new SRF_Isotropic(); }); },
        "Uniform diffuse lobe.");
    m.def(
        "Emission", [] { return build(1, [](Blocks &, int) { return new SRF_Emission(); }); },
        "Emitter of colour (1, 1, 1); scale it for other colours.");
    m.def(
        "Specular",
        [](py::handle direction)
        {
            const Floats d = SrfPyArrays::vectors(direction, "direction");
            return build(lobeLanes({{"direction", SrfPyArrays::rows(d)}}),
                         [&](Blocks &b, int k) { return b.adopt(new SRF_Specular(b.vectors(d, k))); });
        },
        py::arg("direction"), "Mirror lobe about a direction.");
    m.def(
        "Phong",
        [](py::handle axis, py::handle exponent)
        {
            const Floats a = SrfPyArrays::vectors(axis, "axis"), e = SrfPyArrays::exponents(exponent, "exponent");
            return build(lobeLanes({{"axis", SrfPyArrays::rows(a)}, {"exponent", SrfPyArrays::rows(e)}}),
                         [&](Blocks &b, int k) { return b.adopt(new SRF_Phong(b.vectors(a, k), b.floats(e, k))); });
        },
        py::arg("axis"), py::arg("exponent"), "Cosine-power lobe about an axis.");
    m.def(
        "Blinn",
        [](py::handle normal, py::handle exponent)
        {
            const Floats a = SrfPyArrays::vectors(normal, "normal"), e = SrfPyArrays::exponents(exponent, "exponent");
            return build(lobeLanes({{"normal", SrfPyArrays::rows(a)}, {"exponent", SrfPyArrays::rows(e)}}),
                         [&](Blocks &b, int k) { return b.adopt(new SRF_Blinn(b.vectors(a, k), b.floats(e, k))); });
        },
        py::arg("normal"), py::arg("exponent"), "Half-vector lobe about a normal.");
    m.def(
        "Cone",
        [](py::handle axis, py::handle halfAngle)
        {
            const Floats a = SrfPyArrays::vectors(axis, "axis"), h = SrfPyArrays::floats(halfAngle, "half_angle");
            return build(lobeLanes({{"axis", SrfPyArrays::rows(a)}, {"half_angle", SrfPyArrays::rows(h)}}),
                         [&](Blocks &b, int k) { return b.adopt(new SRF_Cone(b.vectors(a, k), b.floats(h, k))); });
        },
        py::arg("axis"), py::arg("half_angle"), "Uniform lobe inside a cone (half angle in radians).");
    m.def(
        "Ashikhmin",
        [](py::handle normal, py::handle exponent1, py::handle exponent2, py::handle tangent1, py::handle tangent2)
        {
            const Floats n = SrfPyArrays::vectors(normal, "normal");
            const Floats e1 = SrfPyArrays::exponents(exponent1, "exponent1"),
                         e2 = SrfPyArrays::exponents(exponent2, "exponent2");
            const Floats t1 = SrfPyArrays::vectors(tangent1, "tangent1"),
                         t2 = SrfPyArrays::vectors(tangent2, "tangent2");
            const long lanes = lobeLanes({{"normal", SrfPyArrays::rows(n)},
                                          {"exponent1", SrfPyArrays::rows(e1)},
                                          {"exponent2", SrfPyArrays::rows(e2)},
                                          {"tangent1", SrfPyArrays::rows(t1)},
                                          {"tangent2", SrfPyArrays::rows(t2)}});
            return build(lanes,
                         [&](Blocks &b, int k)
                         {
                             return b.adopt(new SRF_Ashikhmin(b.vectors(n, k), b.floats(e1, k), b.floats(e2, k),
                                                              b.vectors(t1, k), b.vectors(t2, k)));
                         });
        },
        py::arg("normal"), py::arg("exponent1"), py::arg("exponent2"), py::arg("tangent1"), py::arg("tangent2"),
        "Anisotropic half-vector lobe with exponents along two tangents.");
    m.def(
        "Lafortune",
        [](py::handle normal, py::handle coefficients, py::handle exponent)
        {
            const Floats n = SrfPyArrays::vectors(normal, "normal");
            const Floats c = SrfPyArrays::vectors(coefficients, "coefficients");
            const Floats e = SrfPyArrays::floats(exponent, "exponent");
            const long lanes = lobeLanes({{"normal", SrfPyArrays::rows(n)},
                                          {"coefficients", SrfPyArrays::rows(c)},
                                          {"exponent", SrfPyArrays::rows(e)}});
            return build(lanes, [&](Blocks &b, int k)
                         { return b.adopt(new SRF_Lafortune(b.vectors(n, k), b.vectors(c, k), b.floats(e, k))); });
        },
        py::arg("normal"), py::arg("coefficients"), py::arg("exponent"),
        "Generalised cosine lobe: coefficients weigh the components of u in the frame of the normal.");
    m.def(
        "WireDiffuse",
        [](py::handle tangent)
        {
            const Floats t = SrfPyArrays::vectors(tangent, "tangent");
            return build(lobeLanes({{"tangent", SrfPyArrays::rows(t)}}),
                         [&](Blocks &b, int k) { return b.adopt(new SRF_WireDiffuse(b.vectors(t, k))); });
        },
        py::arg("tangent"), "Diffuse lobe of a curve along a tangent.");
    m.def(
        "WireBlinn",
        [](py::handle tangent, py::handle exponent)
        {
            const Floats t = SrfPyArrays::vectors(tangent, "tangent"), e = SrfPyArrays::exponents(exponent, "exponent");
            return build(lobeLanes({{"tangent", SrfPyArrays::rows(t)}, {"exponent", SrfPyArrays::rows(e)}}),
                         [&](Blocks &b, int k) { return b.adopt(new SRF_WireBlinn(b.vectors(t, k), b.floats(e, k))); });
        },
        py::arg("tangent"), py::arg("exponent"), "Glossy lobe of a curve along a tangent.");
    m.def("Measured", &measured, py::arg("path"), py::arg("normal") = std::vector<float>{0.0f, 0.0f, 1.0f},
          py::arg("dPds") = std::vector<float>{1.0f, 0.0f, 0.0f},
          py::arg("dPdt") = std::vector<float>{0.0f, 1.0f, 0.0f},
          "Lobe of the model fitted to a measurement file, as the shading op builds it (each file is read and fitted "
          "once per process).");

    m.def(
        "Sum", [](const SrfPyBSDF &a, const SrfPyBSDF &b) { return combine<SRF_SumBSDF>(a, b, "Sum"); }, py::arg("a"),
        py::arg("b"), "a + b.");
    m.def(
        "Mul", [](const SrfPyBSDF &a, const SrfPyBSDF &b) { return combine<SRF_MulBSDF>(a, b, "Mul"); }, py::arg("a"),
        py::arg("b"), "The product a @ b.");
    m.def("Scale", &scale, py::arg("a"), py::arg("colour"), "a * colour (a number, (3,), (N,) or (N, 3)).");
    m.def("Switch", &switchOf, py::arg("entries"), py::arg("index"),
          "Per lane, the entry whose position index gives; an index outside the list scatters nothing.");
}
