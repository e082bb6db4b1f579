// The BSDF class of the module: constructors for every lobe and composite,
// the arithmetic operators, and the queries over arrays.

#include "SrfPyArrays.h"
#include "SrfPyBSDF.h"
#include "SrfPyBind.h"
#include "SrfPyQueries.h"

#include "SRF_ArithmeticOps.h"
#include "SRF_LobeKernels.h"
#include "SRF_Measured.h"
#include "SRF_MeasuredCache.h"
#include "SRF_MulBSDF.h"
#include "SRF_ScaleBSDF.h"
#include "SRF_SumBSDF.h"
#include "SRF_SwitchBSDF.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
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

// The field of lobe K that is its constructor's argument `position`.
template <class K> constexpr const SRF_BlockField &fieldAt(std::size_t position)
{
    for (int field = 0; field < K::BLOCKS; ++field)
        if (std::size_t(K::FIELDS[field].position) == position)
            return K::FIELDS[field];
    return K::FIELDS[0];
}

// The docstring of lobe K's constructor, from its schema.
template <class K> const char *lobeDoc()
{
    static const std::string doc = []
    {
        std::string text = K::SUMMARY;
        if (K::BLOCKS > 0)
            text += "\n\nEach argument is one value or one row per lane:";
        for (int position = 0; position < K::BLOCKS; ++position)
        {
            const SRF_BlockField &field = fieldAt<K>(position);
            text += std::string("\n  ") + field.name +
                    (field.kind == SRF_BLOCK_VECTOR ? " (3,) or (N, 3): " : " () or (N,): ") + field.meaning;
        }
        return text;
    }();
    return doc.c_str();
}

// A lobe of kernel K over as many lanes as its arguments have rows, one
// argument per parameter block in its constructor's order.
template <class K> SrfPyBSDF *buildLobe(const py::handle *arguments)
{
    std::vector<Floats> rows;
    long lanes = 1;
    for (int field = 0; field < K::BLOCKS; ++field)
    {
        const SRF_BlockField &f = K::FIELDS[field];
        const py::handle argument = arguments[f.position];
        rows.push_back(f.kind == SRF_BLOCK_VECTOR ? SrfPyArrays::vectors(argument, f.name)
                       : f.exponent               ? SrfPyArrays::exponents(argument, f.name)
                                                  : SrfPyArrays::floats(argument, f.name));
        lanes = SrfPyArrays::commonRows(lanes, SrfPyArrays::rows(rows.back()), f.name);
    }
    return build(lanes,
                 [&](Blocks &b, int k)
                 {
                     SRF_LobeBlocks blocks;
                     for (int field = 0; field < K::BLOCKS; ++field)
                         blocks.block[field] = K::FIELDS[field].kind == SRF_BLOCK_VECTOR
                                                   ? static_cast<void *>(b.vectors(rows[field], k))
                                                   : static_cast<void *>(b.floats(rows[field], k));
                     return b.adopt(new typename K::Class(blocks));
                 });
}

template <class K, std::size_t... I> void defineLobe(py::module_ &m, std::index_sequence<I...>)
{
    m.def(
        K::NAME + 4, // without "SRF_"
        [](decltype((void)I, py::handle())... arguments)
        {
            const py::handle handles[] = {arguments..., py::handle()};
            return buildLobe<K>(handles);
        },
        py::arg(fieldAt<K>(I).name)..., lobeDoc<K>());
}

// srf.Phong(axis, exponent) and the like, named and documented by the
// lobe's schema.
template <class K> void defineLobe(py::module_ &m) { defineLobe<K>(m, std::make_index_sequence<K::BLOCKS>()); }

// A composite's chunk, holding one more reference to each operand; refused
// (ValueError) when a query would visit more nodes than the shading ops
// allow a tree, since queries cost time in proportion.
SRF_BSDF *checkedComposite(SRF_BSDF *composite, const char *what)
{
    if (!composite)
        throw std::bad_alloc();
    if (SRF_CompositeBSDF::queryNodes(composite) > SRF_CompositeBSDF::MAX_TREE_NODES)
    {
        composite->decRefCount();
        throw py::value_error(std::string(what) + ": a query of the result would visit more than " +
                              std::to_string(SRF_CompositeBSDF::MAX_TREE_NODES) + " nodes");
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

// An input's rows as the queries read them: one row serves every row of
// the query in place (step 0), where copying it into every row cost more
// than the query of a simple BSDF.
SrfPyRows<BX_Vector3> vectorRows(const Floats &rows)
{
    return {SrfPyArrays::vectorData(rows), SrfPyArrays::rows(rows) == 1 ? 0 : 1};
}
SrfPyRows<float> floatRows(const Floats &rows) { return {rows.data(), SrfPyArrays::rows(rows) == 1 ? 0 : 1}; }

// A query of directions v seen from u about n, row by row: one (M, 3) and
// one (M,) output (colour and scalar, or value and pdf).
template <class Query>
std::pair<Floats, Floats> directionQuery(const SrfPyBSDF &bsdf, py::handle u, py::handle n, py::handle v,
                                         bool withColour, Query query)
{
    Floats us = SrfPyArrays::vectors(u, "u"), ns = SrfPyArrays::vectors(n, "n"), vs = SrfPyArrays::vectors(v, "v");
    const long rows =
        queryRows(bsdf, {{"u", SrfPyArrays::rows(us)}, {"n", SrfPyArrays::rows(ns)}, {"v", SrfPyArrays::rows(vs)}});
    Floats colour = SrfPyArrays::newVectors(withColour ? rows : 0), scalar = SrfPyArrays::newFloats(rows);
    const SrfPyRows<BX_Vector3> pu = vectorRows(us), pn = vectorRows(ns), pv = vectorRows(vs);
    BX_Vector3 *pc = withColour ? SrfPyArrays::vectorData(colour) : nullptr;
    float *ps = scalar.mutable_data();
    overChunks(bsdf, rows,
               [&](const SRF_BSDF &chunk, long i, int count)
               { query(chunk, count, pu.from(i), pn.from(i), pv.from(i), pc ? pc + i : nullptr, ps + i); });
    return {colour, scalar};
}

py::tuple evaluate(const SrfPyBSDF &bsdf, py::handle u, py::handle n, py::handle v, int mask)
{
    const auto out =
        directionQuery(bsdf, u, n, v, true,
                       [mask](const SRF_BSDF &chunk, int count, SrfPyRows<BX_Vector3> pu, SrfPyRows<BX_Vector3> pn,
                              SrfPyRows<BX_Vector3> pv, BX_Vector3 *pc, float *ps)
                       { SrfPyQueries::evaluate(chunk, count, pu, pn, pv, mask, pc, ps); });
    return py::make_tuple(out.first, out.second);
}

Floats pdf(const SrfPyBSDF &bsdf, py::handle u, py::handle n, py::handle v, int mask)
{
    return directionQuery(bsdf, u, n, v, false,
                          [mask](const SRF_BSDF &chunk, int count, SrfPyRows<BX_Vector3> pu, SrfPyRows<BX_Vector3> pn,
                                 SrfPyRows<BX_Vector3> pv, BX_Vector3 *, float *ps)
                          { SrfPyQueries::evaluatePdf(chunk, count, pu, pn, pv, mask, nullptr, ps); })
        .second;
}

py::tuple evaluatePdf(const SrfPyBSDF &bsdf, py::handle u, py::handle n, py::handle v, int mask)
{
    const auto out =
        directionQuery(bsdf, u, n, v, true,
                       [mask](const SRF_BSDF &chunk, int count, SrfPyRows<BX_Vector3> pu, SrfPyRows<BX_Vector3> pn,
                              SrfPyRows<BX_Vector3> pv, BX_Vector3 *pc, float *ps)
                       { SrfPyQueries::evaluatePdf(chunk, count, pu, pn, pv, mask, pc, ps); });
    return py::make_tuple(out.first, out.second);
}

// A random number of sample must lie in [0, 1]; NaN is passed on as it is.
// (A pass that only counts, which vectorises, then the first bad row for
// the message.)
void checkUnit(const Floats &values, const char *name)
{
    const float *data = values.data();
    const long rows = SrfPyArrays::rows(values);
    long outside = 0;
    for (long i = 0; i < rows; ++i)
        outside += (data[i] < 0.0f) | (data[i] > 1.0f);
    if (outside == 0)
        return;
    const long i = std::find_if(data, data + rows, [](float s) { return s < 0.0f || s > 1.0f; }) - data;
    throw py::value_error(std::string(name) + " must lie in [0, 1]; row " + std::to_string(i) + " holds " +
                          std::to_string(data[i]));
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
    Floats direction = SrfPyArrays::newVectors(rows), colour = SrfPyArrays::newVectors(rows);
    Ints bounce = SrfPyArrays::newInts(rows);
    const SrfPyRows<BX_Vector3> pu = vectorRows(us), pn = vectorRows(ns);
    const SrfPyRows<float> px = floatRows(xs), py_ = floatRows(ys);
    BX_Vector3 *pd = SrfPyArrays::vectorData(direction), *pc = SrfPyArrays::vectorData(colour);
    int *pb = bounce.mutable_data();
    overChunks(bsdf, rows,
               [&](const SRF_BSDF &chunk, long i, int count) {
                   SrfPyQueries::sample(chunk, count, pu.from(i), pn.from(i), px.from(i), py_.from(i), mask, pd + i,
                                        pc + i, pb + i);
               });
    return py::make_tuple(direction, colour, bounce);
}

Floats albedo(const SrfPyBSDF &bsdf, py::handle u, py::handle n, int mask)
{
    Floats us = SrfPyArrays::vectors(u, "u"), ns = SrfPyArrays::vectors(n, "n");
    const long rows = queryRows(bsdf, {{"u", SrfPyArrays::rows(us)}, {"n", SrfPyArrays::rows(ns)}});
    Floats result = SrfPyArrays::newFloats(rows);
    const SrfPyRows<BX_Vector3> pu = vectorRows(us), pn = vectorRows(ns);
    float *pa = result.mutable_data();
    overChunks(bsdf, rows,
               [&](const SRF_BSDF &chunk, long i, int count)
               { SrfPyQueries::albedo(chunk, count, pu.from(i), pn.from(i), mask, pa + i); });
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
        .def("pdf", &pdf, py::arg("u"), py::arg("n"), py::arg("v"), py::arg("mask") = SCATTER,
             "Density per steradian, over the whole sphere, with which sample(u, n, ..., mask) draws v: (M,) "
             "float32; 0 where sample never draws, and for a delta (mirror) lobe.")
        .def("evaluate_pdf", &evaluatePdf, py::arg("u"), py::arg("n"), py::arg("v"), py::arg("mask") = SCATTER,
             "(values (M, 3), pdfs (M,)): the value that sample's colour weight estimates (value = E[colour | v] "
             "pdf(v): the mean of colour * L(v) over sample's draws is the integral of value * L) and pdf. A light "
             "sample at v of density p_light contributes value * L / p_light.")
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

    SRF_LobeKernels::forEach([&](auto kernel) { defineLobe<decltype(kernel)>(m); });
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
