#include "SRF_ScaleBSDF.h"

#include "SRF_LaneLoops.h"

namespace
{
const float LUMINANCE_RED = 0.299f;
const float LUMINANCE_GREEN = 0.587f;
const float LUMINANCE_BLUE = 0.114f;

// L(c), inline for the lane loops (the exported luminance may be interposed,
// so the compiler does not inline it).
inline float luminanceOf(const BX_Vector3 &c)
{
    return LUMINANCE_RED * c.x + LUMINANCE_GREEN * c.y + LUMINANCE_BLUE * c.z;
}
} // namespace

SRF_ScaleBSDF::SRF_ScaleBSDF(SRF_BSDF *operand, BX_Vector3 *colours) : myOperand(operand), myColours(colours)
{
    bounces = operand->getBounces();
    countQueryNodes(operand, nullptr);
}

SRF_ScaleBSDF::~SRF_ScaleBSDF()
{
    releaseOperand(myOperand);
    if (myColours)
        release(myColours);
}

const char *SRF_ScaleBSDF::className() const { return "SRF_ScaleBSDF"; }

bool SRF_ScaleBSDF::isEqual(const KAL_RefType &other, float tolerance) const
{
    if (!SRF_BSDF::isEqual(other, tolerance))
        return false;
    const SRF_ScaleBSDF &scale = static_cast<const SRF_ScaleBSDF &>(other);
    return myColours == scale.myColours && myOperand->isEqual(*scale.myOperand, tolerance);
}

float SRF_ScaleBSDF::luminance(const BX_Vector3 &c) { return luminanceOf(c); }

void SRF_ScaleBSDF::tintedLanes(const SRF_LaneBatch &batch, int *tinted) const
{
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *colours = myColours;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool black = luminanceOf(colours[lane]) == 0.0f;
                    tinted[lane] = b.isRunning(lane) & !black;
                });
}

// A = L(c) A_operand; exactly 0 when L(c) = 0.
float SRF_ScaleBSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const
{
    const float l = luminance(myColours[lane]);
    return l == 0.0f ? 0.0f : myOperand->albedo(u, n, lane, mask) * l;
}

void SRF_ScaleBSDF::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::albedoBatch(batch);
    SRF_LaneBatch sub = operandBatch(batch);
    int tintedStore[KAL_MAX_LANES];
    int *const tinted = tintedStore;
    tintedLanes(batch, tinted);
    sub.run = tinted;
    myOperand->albedoBatch(sub);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *colours = myColours;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const float l = luminanceOf(colours[lane]);
                    const float a = tinted[lane] ? b.scalar[lane] * l : 0.0f;
                    b.scalar[lane] = b.isRunning(lane) ? a : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_SCALAR);
}

// The operand's ratio: a tint does not change how specular a BSDF is.
float SRF_ScaleBSDF::specularRatio(int lane, int mask) const { return myOperand->specularRatio(lane, mask); }

void SRF_ScaleBSDF::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::specularRatioBatch(batch);
    myOperand->specularRatioBatch(operandBatch(batch));
    canonicalAtTop(batch, OUT_SCALAR);
}

// f(u, v) = c f_operand(u, v), scalar L(c) s_operand.
void SRF_ScaleBSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                             float &scalar, int lane, int mask) const
{
    const BX_Vector3 &c = myColours[lane];
    const float l = luminance(c);
    if (l == 0.0f)
    {
        colour = BX_Vector3(0.0f, 0.0f, 0.0f);
        scalar = 0.0f;
        return;
    }
    myOperand->evaluate(u, n, v, colour, scalar, lane, mask);
    modulate(colour, scalar, c, l);
}

void SRF_ScaleBSDF::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluateBatch(batch);
    SRF_LaneBatch sub = operandBatch(batch);
    int tintedStore[KAL_MAX_LANES];
    int *const tinted = tintedStore;
    tintedLanes(batch, tinted);
    sub.run = tinted;
    myOperand->evaluateBatch(sub);
    tint(batch, tinted, false);
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// The outputs of the running lanes: tinted ones modulated by the colour and
// its luminance, black ones zero (and v zero too after a sample).
void SRF_ScaleBSDF::tint(const SRF_LaneBatch &batch, const int *tinted, bool sampled) const
{
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *colours = myColours;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool running = b.isRunning(lane), on = tinted[lane];
                    const BX_Vector3 c = colours[lane];
                    const BX_Vector3 out = b.colour.get(lane);
                    // Selected component by component: a choice between two
                    // vectors would pick an address per lane, which no loop
                    // vectorises.
                    const BX_Vector3 tintedOut(on ? out.x * c.x : 0.0f, on ? out.y * c.y : 0.0f,
                                               on ? out.z * c.z : 0.0f);
                    const float s = b.scalar[lane] * luminanceOf(c);
                    b.colour.blend(lane, running, tintedOut);
                    b.scalar[lane] = running ? (on ? s : 0.0f) : b.scalar[lane];
                    b.v.blend(lane, sampled & running & !on, BX_Vector3(0.0f, 0.0f, 0.0f));
                });
}

// The operand's sample with colour c w and scalar L(c) s; a black lane
// (L(c) = 0) draws nothing: v, colour and scalar are zero, bounce untouched.
void SRF_ScaleBSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                           int &bounce, float sx, float sy, int lane, int mask) const
{
    const BX_Vector3 &c = myColours[lane];
    const float l = luminance(c);
    if (l == 0.0f)
    {
        v = BX_Vector3(0.0f, 0.0f, 0.0f);
        colour = BX_Vector3(0.0f, 0.0f, 0.0f);
        scalar = 0.0f;
        return;
    }
    myOperand->sample(u, n, v, colour, scalar, bounce, sx, sy, lane, mask);
    modulate(colour, scalar, c, l);
}

void SRF_ScaleBSDF::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::sampleBatch(batch);
    SRF_LaneBatch sub = operandBatch(batch);
    int tintedStore[KAL_MAX_LANES];
    int *const tinted = tintedStore;
    tintedLanes(batch, tinted);
    sub.run = tinted;
    myOperand->sampleBatch(sub);
    tint(batch, tinted, true);
    canonicalAtTop(batch, OUT_DIRECTION | OUT_COLOUR | OUT_SCALAR);
}

// The operand's density; its value tinted by the lane's colour. A black
// lane draws no direction (v and the weight are zero): 0.
void SRF_ScaleBSDF::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                                float &pdf, int lane, int mask) const
{
    const BX_Vector3 &c = myColours[lane];
    if (luminance(c) == 0.0f)
    {
        value = BX_Vector3(0.0f, 0.0f, 0.0f);
        pdf = 0.0f;
        return;
    }
    myOperand->evaluatePdf(u, n, v, value, pdf, lane, mask);
    modulate(value, c);
}

void SRF_ScaleBSDF::evaluatePdfBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluatePdfBatch(batch);
    SRF_LaneBatch sub = operandBatch(batch);
    int tintedStore[KAL_MAX_LANES];
    int *const tinted = tintedStore;
    tintedLanes(batch, tinted);
    sub.run = tinted;
    myOperand->evaluatePdfBatch(sub);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *colours = myColours;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const bool running = b.isRunning(lane), on = tinted[lane];
                    const BX_Vector3 c = colours[lane], value = b.colour.get(lane);
                    b.colour.blend(lane, running,
                                   on ? BX_Vector3(value.x * c.x, value.y * c.y, value.z * c.z)
                                      : BX_Vector3(0.0f, 0.0f, 0.0f));
                    b.scalar[lane] = running ? (on ? b.scalar[lane] : 0.0f) : b.scalar[lane];
                });
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// Le = c Le_operand.
void SRF_ScaleBSDF::emission(BX_Vector3 &colour, int lane) const
{
    const BX_Vector3 &c = myColours[lane];
    if (luminance(c) == 0.0f)
    {
        colour = BX_Vector3(0.0f, 0.0f, 0.0f);
        return;
    }
    myOperand->emission(colour, lane);
    modulate(colour, c);
}

void SRF_ScaleBSDF::emissionBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::emissionBatch(batch);
    SRF_LaneBatch sub = operandBatch(batch);
    int tintedStore[KAL_MAX_LANES];
    int *const tinted = tintedStore;
    tintedLanes(batch, tinted);
    sub.run = tinted;
    myOperand->emissionBatch(sub);
    const SRF_LaneBatch b = batch;
    const BX_Vector3 *colours = myColours;
    SRFforLanes(b.begin, b.end,
                [=](int lane)
                {
                    const BX_Vector3 c = colours[lane], out = b.colour.get(lane);
                    const BX_Vector3 tintedColour(out.x * c.x, out.y * c.y, out.z * c.z);
                    b.colour.blend(lane, b.isRunning(lane), tinted[lane] ? tintedColour : BX_Vector3(0.0f, 0.0f, 0.0f));
                });
}

SRF_BSDF *SRF_ScaleBSDF::duplicate(int count) const
{
    void *storage = takeStorage(sizeof(SRF_ScaleBSDF));
    if (!storage)
        return nullptr;
    BX_Vector3 *colours = copy(myColours, count);
    SRF_BSDF *operand = colours ? myOperand->duplicate(count) : nullptr;
    if (!operand)
    {
        // No colour block or an operand that cannot be copied: the copy fails
        // as a whole and gives back what it took.
        if (colours)
            release(colours);
        giveBackStorage(storage, sizeof(SRF_ScaleBSDF));
        return nullptr;
    }
    return new (storage) SRF_ScaleBSDF(operand, colours);
}

void SRF_ScaleBSDF::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                            BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    vectors.append(myColours);
    myOperand->flatten(bsdfs, vectors, floats);
}

void SRF_ScaleBSDF::dump(int indent) const
{
    dumpName(indent);
    myOperand->dump(indent + 1);
}
