#include "SRF_SwitchBSDF.h"

namespace
{
// Entries are compared with this tolerance whatever the caller asks for.
const float ENTRY_TOLERANCE = 1e-6f;

// Zero colour, scalar or bounces in the running lanes of a batch: the
// answer of a lane without an entry.
void writeZeros(const SRF_LaneBatch &lanes, bool colour, bool scalar, bool bounces)
{
    for (int lane = lanes.begin; lane < lanes.end; ++lane)
    {
        if (!lanes.isRunning(lane))
            continue;
        if (colour)
            lanes.colour.set(lane, BX_Vector3(0.0f, 0.0f, 0.0f));
        if (scalar)
            lanes.scalar[lane] = 0.0f;
        if (bounces)
            lanes.bounce[lane] = 0;
    }
}

void releaseAll(const BX_PtrArray<SRF_BSDF *> &list)
{
    for (int i = 0; i < list.entries(); ++i)
        if (list[i])
            list[i]->decRefCount();
}
} // namespace

SRF_SwitchBSDF::SRF_SwitchBSDF(const BX_PtrArray<SRF_BSDF *> &entries, int *index) : myEntries(entries), myIndex(index)
{
    if (myEntries.entries() != entries.entries())
    {
        // The list could not be copied: the references adopted from the
        // caller are dropped and every lane answers as a null BSDF.
        releaseAll(entries);
        myEntries.clear();
    }
    // A query visits one entry: the largest bounds the tree.
    const SRF_BSDF *largest = nullptr;
    for (int i = 0; i < myEntries.entries(); ++i)
        if (myEntries[i])
        {
            bounces |= myEntries[i]->getBounces();
            if (queryNodes(myEntries[i]) > queryNodes(largest))
                largest = myEntries[i];
        }
    countQueryNodes(largest, nullptr);
}

SRF_SwitchBSDF::~SRF_SwitchBSDF()
{
    releaseAll(myEntries);
    if (myIndex)
        release(myIndex);
}

const char *SRF_SwitchBSDF::className() const { return "SRF_SwitchBSDF"; }

bool SRF_SwitchBSDF::isEqual(const KAL_RefType &other, float tolerance) const
{
    if (!SRF_BSDF::isEqual(other, tolerance))
        return false;
    const SRF_SwitchBSDF &sw = static_cast<const SRF_SwitchBSDF &>(other);
    if (sw.myEntries.entries() != myEntries.entries())
        return false;
    for (int i = 0; i < myEntries.entries(); ++i)
    {
        const SRF_BSDF *mine = myEntries[i];
        const SRF_BSDF *theirs = sw.myEntries[i];
        if (!mine || !theirs ? mine != theirs : !mine->isEqual(*theirs, ENTRY_TOLERANCE))
            return false;
    }
    return true;
}

const SRF_BSDF *SRF_SwitchBSDF::picked(int lane) const
{
    const int i = pickedIndex(lane);
    return i >= 0 ? myEntries[i] : nullptr;
}

int SRF_SwitchBSDF::pickedIndex(int lane) const
{
    const int i = myIndex ? myIndex[lane] : -1;
    return i >= 0 && i < myEntries.entries() && myEntries[i] ? i : -1;
}

// The batch form of a query: the running lanes are split by the entry each
// picks; query(entry, lanes) runs once for every entry some lane picks, with
// those lanes, and none(lanes) once with the lanes that pick no entry.
template <class Query, class None>
void SRF_SwitchBSDF::byEntry(const SRF_LaneBatch &batch, Query query, None none) const
{
    int pick[KAL_MAX_LANES], lanes[KAL_MAX_LANES];
    SRF_LaneBatch sub = operandBatch(batch);
    sub.run = lanes;
    int unpicked = 0;
    for (int lane = batch.begin; lane < batch.end; ++lane)
    {
        pick[lane] = batch.isRunning(lane) ? pickedIndex(lane) : -2;
        unpicked += lanes[lane] = pick[lane] == -1;
    }
    if (unpicked > 0)
        none(sub);
    for (int i = 0; i < myEntries.entries(); ++i)
    {
        int count = 0;
        for (int lane = batch.begin; lane < batch.end; ++lane)
            count += lanes[lane] = pick[lane] == i;
        if (count > 0)
            query(*myEntries[i], sub);
    }
}

int SRF_SwitchBSDF::getBounces(int lane) const
{
    const SRF_BSDF *entry = picked(lane);
    return entry ? entry->getBounces(lane) : 0;
}

void SRF_SwitchBSDF::getBouncesBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::getBouncesBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.getBouncesBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, false, false, true); });
}

float SRF_SwitchBSDF::albedo(const BX_Vector3 &u, const BX_Vector3 &n, int lane, int mask) const
{
    const SRF_BSDF *entry = picked(lane);
    return entry ? entry->albedo(u, n, lane, mask) : 0.0f;
}

void SRF_SwitchBSDF::albedoBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::albedoBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.albedoBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, false, true, false); });
    canonicalAtTop(batch, OUT_SCALAR);
}

float SRF_SwitchBSDF::specularRatio(int lane, int mask) const
{
    const SRF_BSDF *entry = picked(lane);
    return entry ? entry->specularRatio(lane, mask) : 0.0f;
}

void SRF_SwitchBSDF::specularRatioBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::specularRatioBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.specularRatioBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, false, true, false); });
    canonicalAtTop(batch, OUT_SCALAR);
}

void SRF_SwitchBSDF::evaluate(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &colour,
                              float &scalar, int lane, int mask) const
{
    const SRF_BSDF *entry = picked(lane);
    if (entry)
    {
        entry->evaluate(u, n, v, colour, scalar, lane, mask);
        return;
    }
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    scalar = 0.0f;
}

void SRF_SwitchBSDF::evaluateBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluateBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.evaluateBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, true, true, false); });
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

// A lane without an entry leaves v and bounce as the caller had them, like a
// BSDF that no mask admits.
void SRF_SwitchBSDF::sample(const BX_Vector3 &u, const BX_Vector3 &n, BX_Vector3 &v, BX_Vector3 &colour, float &scalar,
                            int &bounce, float sx, float sy, int lane, int mask) const
{
    const SRF_BSDF *entry = picked(lane);
    if (entry)
    {
        entry->sample(u, n, v, colour, scalar, bounce, sx, sy, lane, mask);
        return;
    }
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
    scalar = 0.0f;
}

void SRF_SwitchBSDF::sampleBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::sampleBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.sampleBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, true, true, false); });
    canonicalAtTop(batch, OUT_DIRECTION | OUT_COLOUR | OUT_SCALAR);
}

// The picked entry's; a lane that picks no entry draws nothing.
void SRF_SwitchBSDF::evaluatePdf(const BX_Vector3 &u, const BX_Vector3 &n, const BX_Vector3 &v, BX_Vector3 &value,
                                 float &pdf, int lane, int mask) const
{
    const SRF_BSDF *entry = picked(lane);
    if (entry)
        return entry->evaluatePdf(u, n, v, value, pdf, lane, mask);
    value = BX_Vector3(0.0f, 0.0f, 0.0f);
    pdf = 0.0f;
}

void SRF_SwitchBSDF::evaluatePdfBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::evaluatePdfBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.evaluatePdfBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, true, true, false); });
    canonicalAtTop(batch, OUT_COLOUR | OUT_SCALAR);
}

void SRF_SwitchBSDF::emission(BX_Vector3 &colour, int lane) const
{
    const SRF_BSDF *entry = picked(lane);
    if (entry)
    {
        entry->emission(colour, lane);
        return;
    }
    colour = BX_Vector3(0.0f, 0.0f, 0.0f);
}

void SRF_SwitchBSDF::emissionBatch(const SRF_LaneBatch &batch) const
{
    if (answerLaneByLane(batch))
        return SRF_BSDF::emissionBatch(batch);
    byEntry(
        batch, [](const SRF_BSDF &entry, const SRF_LaneBatch &lanes) { entry.emissionBatch(lanes); },
        [](const SRF_LaneBatch &lanes) { writeZeros(lanes, true, false, false); });
}

SRF_BSDF *SRF_SwitchBSDF::duplicate(int count) const
{
    // Every entry is copied first; an entry that cannot be copied (a
    // tabulated BSDF) makes the whole copy fail rather than leave a hole.
    BX_PtrArray<SRF_BSDF *> copies;
    for (int i = 0; i < myEntries.entries(); ++i)
    {
        SRF_BSDF *entry = myEntries[i] ? myEntries[i]->duplicate(count) : nullptr;
        if (!entry || copies.append(entry) < 0)
        {
            releaseOperand(entry);
            releaseAll(copies);
            return nullptr;
        }
    }
    // A Switch without an index block answers as null on every lane; its
    // copy has none either, rather than a fresh block of stale indices.
    void *storage = takeStorage(sizeof(SRF_SwitchBSDF));
    int *index = storage && myIndex ? copy(myIndex, count) : nullptr;
    if (!storage || (myIndex && !index))
    {
        if (storage)
            giveBackStorage(storage, sizeof(SRF_SwitchBSDF));
        releaseAll(copies);
        return nullptr;
    }
    return new (storage) SRF_SwitchBSDF(copies, index);
}

void SRF_SwitchBSDF::flatten(BX_PtrArray<SRF_BSDF *> &bsdfs, BX_PtrArray<BX_Vector3 *> &vectors,
                             BX_PtrArray<float *> &floats)
{
    bsdfs.append(this);
    for (int i = 0; i < myEntries.entries(); ++i)
        if (myEntries[i])
            myEntries[i]->flatten(bsdfs, vectors, floats);
}

void SRF_SwitchBSDF::dump(int indent) const
{
    dumpName(indent);
    for (int i = 0; i < myEntries.entries(); ++i)
        if (myEntries[i])
            myEntries[i]->dump(indent + 1);
}
