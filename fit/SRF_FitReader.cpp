#include "SRF_FitReader.h"

#include "SRF_ColourMatching.h"
#include "SRF_Constants.h"
#include "SRF_MeasurementFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>

namespace
{
// What one place of a row feeds.
enum PlaceKind
{
    PLACE_SKIPPED,
    PLACE_ANGLE,    // index: the column code 0 to 3
    PLACE_CHANNEL,  // index: 0, 1, 2 for R, G, B; 3 for a grey value
    PLACE_SPECTRUM, // index: the sample in order of wavelength
};

struct Place
{
    PlaceKind kind;
    int index;
};

const char *const CHANNEL_NAMES[3] = {"R", "G", "B"};
const int GREY = 3;
const int PHI_S_PLACE = 3; // theta_i, phi_i, theta_s, phi_s

enum ColourSource
{
    FROM_RGB,
    FROM_BANDS,
    FROM_GREY_BAND,
    FROM_SPECTRUM
};

[[noreturn]] void fail(const std::string &path, const std::string &what)
{
    throw std::runtime_error(what + " in '" + path + "'");
}

std::string number(double x)
{
    std::ostringstream text;
    text << x;
    return text.str();
}

int nearestPrimary(double wavelength)
{
    int best = 0;
    for (int c = 1; c < 3; ++c)
        if (std::fabs(wavelength - SRF_FitReader::PRIMARY_WAVELENGTHS[c]) <
            std::fabs(wavelength - SRF_FitReader::PRIMARY_WAVELENGTHS[best]))
            best = c;
    return best;
}

// The wavelength of a column named as "550nm" (the unit in any case: nm,
// NM, Nm), or 0 for any other name.
double bandWavelength(const char *name)
{
    char *end = nullptr;
    const double value = std::strtod(name, &end);
    if (end == name || std::strlen(end) != 2 || std::tolower(end[0]) != 'n' || std::tolower(end[1]) != 'm')
        return 0.0;
    return value > 0.0 && std::isfinite(value) ? value : 0.0;
}

// One row as read, before fill rows are told apart.
struct Row
{
    double angle[4];
    double value[3];
};

const double DEGREE = SRF_PI_DOUBLE / 180.0;
// An angle column holding a value beyond this is in degrees: no polar angle
// exceeds pi, and azimuths lie within [-2 pi, 2 pi].
const double LARGEST_RADIANS = SRF_TWO_PI_DOUBLE + 1e-6;

// Some instruments fill the scattered polar angles they cannot reach (76
// to 90 degrees) with a straight line from the 75-degree value down to 0.
// Returns a flag per row: whether it is such a fill. A run of rows sharing
// theta_i, phi_i and phi_s is a fill when its rows beyond 75 degrees lie on
// a line through 0 at 90 degrees: with w = (90 - theta_s) / 15, each
// channel's least-squares start s_c = sum(w m_c) / sum(w^2), every row
// within FILL_TOLERANCE of s_c w (relative to the largest |s_c|), the start
// within START_TOLERANCE of the 75-degree row, and at least FILL_MINIMUM
// such rows. (The line's start is fitted rather than read off the
// 75-degree row: some instruments smooth the fill, so its start can differ
// from a noisy 75-degree measurement by several per cent, while a measured
// paint keeps its value towards grazing instead of falling to 0.)
std::vector<bool> fillRows(const std::vector<Row> &rows)
{
    const double FILL_FROM = 75.0 * DEGREE, FILL_TO = 90.0 * DEGREE, SAME_ANGLE = 1e-3 * DEGREE;
    const double FILL_TOLERANCE = 0.08, START_TOLERANCE = 0.15;
    const size_t FILL_MINIMUM = 3;
    std::vector<bool> fill(rows.size(), false);
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t(0));
    auto key = [&](size_t i) { return std::make_tuple(rows[i].angle[0], rows[i].angle[1], rows[i].angle[3]); };
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b)
              { return std::make_pair(key(a), rows[a].angle[2]) < std::make_pair(key(b), rows[b].angle[2]); });
    auto along = [&](const Row &row) { return std::max(FILL_TO - row.angle[2], 0.0) / (FILL_TO - FILL_FROM); };
    for (size_t first = 0; first < order.size();)
    {
        size_t last = first;
        while (last < order.size() && key(order[last]) == key(order[first]))
            ++last;
        const Row *anchor = nullptr;
        std::vector<size_t> ramp;
        double weights = 0.0, moments[3] = {0.0, 0.0, 0.0};
        for (size_t j = first; j < last; ++j)
        {
            const Row &row = rows[order[j]];
            if (std::fabs(row.angle[2] - FILL_FROM) < SAME_ANGLE)
                anchor = &row;
            else if (row.angle[2] > FILL_FROM && row.angle[2] <= FILL_TO + SAME_ANGLE)
            {
                const double w = along(row);
                weights += w * w;
                for (int c = 0; c < 3; ++c)
                    moments[c] += w * row.value[c];
                ramp.push_back(order[j]);
            }
        }
        first = last;
        if (!anchor || ramp.size() < FILL_MINIMUM || !(weights > 0.0))
            continue;
        double start[3], largest = 0.0;
        for (int c = 0; c < 3; ++c)
        {
            start[c] = moments[c] / weights;
            largest = std::max(largest, std::fabs(start[c]));
        }
        bool ramped = true;
        for (int c = 0; c < 3; ++c)
            ramped = ramped && std::fabs(start[c] - anchor->value[c]) <= START_TOLERANCE * largest + 1e-12;
        for (size_t i : ramp)
            for (int c = 0; c < 3; ++c)
                ramped = ramped &&
                         std::fabs(rows[i].value[c] - start[c] * along(rows[i])) <= FILL_TOLERANCE * largest + 1e-12;
        if (ramped)
            for (size_t i : ramp)
                fill[i] = true;
    }
    return fill;
}

// The places of one row layout, from the names that take a place.
struct Layout
{
    std::vector<Place> places;
    int rows = 0;
};
} // namespace

constexpr double SRF_FitReader::PRIMARY_WAVELENGTHS[3];

SRF_FitData SRF_FitReader::read(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        throw std::runtime_error("cannot read '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        throw std::runtime_error("cannot read '" + path + "': not a regular file");
    FILE *probe = std::fopen(path.c_str(), "r");
    if (!probe)
        throw std::runtime_error("cannot read '" + path + "': " + std::strerror(errno));
    std::fclose(probe);

    SRF_MeasurementFile file(path.c_str());
    SRF_FitData data;
    data.path = path;
    data.sampleName = file.sampleName();
    if (file.pointCount() <= 0)
        fail(path, "no NUM_POINTS line (or a count of 0)");

    // Classify the names.
    const int nameCount = file.nameCount();
    std::vector<int> codes(nameCount, -1);
    std::vector<double> wavelengths(nameCount, 0.0);
    bool named[8] = {};
    std::vector<int> bands; // name indices of the wavelength columns
    std::vector<std::string> skipped;
    for (int k = 0; k < nameCount; ++k)
    {
        codes[k] = SRF_MeasurementFile::columnCode(file.name(k));
        wavelengths[k] = codes[k] < 0 ? bandWavelength(file.name(k)) : 0.0;
        if (codes[k] >= 0)
            named[codes[k]] = true;
        else if (wavelengths[k] > 0.0)
            bands.push_back(k);
        else
            skipped.push_back(file.name(k));
    }
    if (!named[SRF_MeasurementFile::THETA_I] || !named[SRF_MeasurementFile::THETA_S])
        fail(path, "VARS names no theta_i or no theta_s");
    const bool rgb = named[SRF_MeasurementFile::R] || named[SRF_MeasurementFile::G] || named[SRF_MeasurementFile::B] ||
                     named[SRF_MeasurementFile::I];
    if (!rgb && bands.empty())
        fail(path, "VARS names no colour column (R, G, B, I or wavelengths such as 550nm)");

    if (!rgb && std::none_of(bands.begin(), bands.end(),
                             [&](int k) { return wavelengths[k] >= VISIBLE_FIRST && wavelengths[k] <= VISIBLE_LAST; }))
        fail(path, "every wavelength column lies outside the visible 380 to 780 nm (" +
                       number(wavelengths[bands.front()]) + " nm ...): no colour can be made of them");

    // How the wavelength columns become colour.
    std::sort(bands.begin(), bands.end(), [&](int a, int b) { return wavelengths[a] < wavelengths[b]; });
    ColourSource source = FROM_RGB;
    int bandChannel[3] = {0, 0, 0};
    if (!rgb)
    {
        if (bands.size() == 1)
            source = FROM_GREY_BAND;
        else if (bands.size() == 3)
        {
            for (int b = 0; b < 3; ++b)
                bandChannel[b] = nearestPrimary(wavelengths[bands[b]]);
            const bool distinct = bandChannel[0] != bandChannel[1] && bandChannel[1] != bandChannel[2] &&
                                  bandChannel[0] != bandChannel[2];
            source = distinct ? FROM_BANDS : FROM_SPECTRUM;
        }
        else
            source = FROM_SPECTRUM;
    }
    std::vector<double> sorted;
    for (int k : bands)
        sorted.push_back(wavelengths[k]);
    const SRF_ColourMatching matching(source == FROM_SPECTRUM ? sorted : std::vector<double>());

    // What each name feeds.
    std::vector<Place> byName(nameCount, Place{PLACE_SKIPPED, 0});
    for (int k = 0; k < nameCount; ++k)
    {
        if (codes[k] >= 0 && codes[k] <= SRF_MeasurementFile::PHI_S)
            byName[k] = Place{PLACE_ANGLE, codes[k]};
        else if (codes[k] >= SRF_MeasurementFile::R)
            byName[k] = Place{PLACE_CHANNEL, codes[k] - SRF_MeasurementFile::R};
    }
    for (int b = 0; b < int(bands.size()) && source != FROM_RGB; ++b)
    {
        const int k = bands[b];
        if (source == FROM_SPECTRUM)
            byName[k] = Place{PLACE_SPECTRUM, b};
        else if (source == FROM_BANDS)
            byName[k] = Place{PLACE_CHANNEL, bandChannel[b]};
        else
            byName[k] = Place{PLACE_CHANNEL, GREY};
    }

    // Row layouts, chosen by the number of values in a row: every name
    // takes a place; or that plus phi_s in the fourth place when VARS omits
    // it; or only the angle, colour and wavelength names take a place.
    Layout everyName, withPhi, knownOnly;
    everyName.places = std::vector<Place>(byName);
    const bool phiMissing = !named[SRF_MeasurementFile::PHI_S] && nameCount >= PHI_S_PLACE;
    if (phiMissing)
    {
        withPhi.places = std::vector<Place>(byName);
        withPhi.places.insert(withPhi.places.begin() + PHI_S_PLACE, Place{PLACE_ANGLE, SRF_MeasurementFile::PHI_S});
    }
    for (int k = 0; k < nameCount; ++k)
        if (codes[k] >= 0 || wavelengths[k] > 0.0)
            knownOnly.places.push_back(byName[k]);
    const int everyCount = int(everyName.places.size());
    const int phiCount = phiMissing ? int(withPhi.places.size()) : -1;
    const int knownCount = skipped.empty() ? -1 : int(knownOnly.places.size());

    std::vector<Row> rows;
    std::vector<double> row(nameCount + 2);
    std::vector<double> spectrum(bands.size());
    int blank = 0, notFinite = 0, irregular = 0, negative = 0, rowsRead = 0;
    for (int i = 0; i < file.pointCount() && !file.atEnd();)
    {
        const int count = file.readRow(row.data(), int(row.size()));
        if (count == 0)
        {
            ++blank;
            continue;
        }
        ++i;
        if (!std::all_of(row.begin(), row.begin() + count, [](double x) { return std::isfinite(x); }))
        {
            ++notFinite;
            continue;
        }
        Layout *layout = &everyName;
        if (count == phiCount)
            layout = &withPhi;
        else if (count == knownCount)
            layout = &knownOnly;
        else if (count != everyCount)
            ++irregular;
        ++layout->rows;

        double angle[4] = {0.0, 0.0, 0.0, 0.0};
        double value[3] = {0.0, 0.0, 0.0};
        std::fill(spectrum.begin(), spectrum.end(), 0.0);
        const int used = std::min(count, int(layout->places.size()));
        for (int k = 0; k < used; ++k)
        {
            const Place &place = layout->places[k];
            if (place.kind == PLACE_ANGLE)
                angle[place.index] = row[k];
            else if (place.kind == PLACE_CHANNEL && place.index == GREY)
                value[0] = value[1] = value[2] = row[k];
            else if (place.kind == PLACE_CHANNEL)
                value[place.index] = row[k];
            else if (place.kind == PLACE_SPECTRUM)
                spectrum[place.index] = row[k];
            if (place.kind == PLACE_CHANNEL || place.kind == PLACE_SPECTRUM)
                negative += row[k] < 0.0;
        }
        if (source == FROM_SPECTRUM)
            matching.toRgb(spectrum.data(), value);
        Row read;
        std::copy(angle, angle + 4, read.angle);
        std::copy(value, value + 3, read.value);
        rows.push_back(read);
        ++rowsRead;
    }
    if (rowsRead == 0)
        fail(path, "no data row");

    // Angles in degrees: a value no angle in radians can take.
    for (int c = 0; c <= SRF_MeasurementFile::PHI_S; ++c)
    {
        double largest = 0.0;
        for (const Row &r : rows)
            largest = std::max(largest, std::fabs(r.angle[c]));
        static const char *const ANGLE_NAMES[4] = {"theta_i", "phi_i", "theta_s", "phi_s"};
        if (largest > LARGEST_RADIANS)
            fail(path, std::string(ANGLE_NAMES[c]) + " reaches " + number(largest) +
                           ", which is no angle in radians: the angles look like degrees (this reader takes radians)");
    }
    const std::vector<bool> fill = fillRows(rows);
    int fills = 0;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        if (fill[i])
        {
            ++fills;
            continue;
        }
        data.add(rows[i].angle[0], rows[i].angle[1], rows[i].angle[2], rows[i].angle[3], rows[i].value);
    }
    if (data.points.empty())
        fail(path, "no data row that is not a fill");

    // The account.
    std::vector<std::string> &account = data.account;
    if (!data.sampleName.empty())
        account.push_back("sample: " + data.sampleName);
    std::string angles = "angles:";
    for (int c = 0; c <= SRF_MeasurementFile::PHI_S; ++c)
        if (named[c])
            angles += std::string(" ") + file.name(int(std::find(codes.begin(), codes.end(), c) - codes.begin()));
    if (phiMissing && withPhi.rows > 0)
        angles += " phi_s (not in VARS: the fourth value of each row with one value more than VARS names)";
    else if (!named[SRF_MeasurementFile::PHI_S])
        angles += " (phi_s taken as 0)";
    if (!named[SRF_MeasurementFile::PHI_I])
        angles += " (phi_i taken as 0)";
    account.push_back(angles);
    std::string colour = "colour: ";
    if (source == FROM_RGB)
    {
        for (int c = SRF_MeasurementFile::R; c <= SRF_MeasurementFile::I; ++c)
            if (named[c])
                colour += std::string(c == SRF_MeasurementFile::R ? "" : " ") +
                          (c == SRF_MeasurementFile::I ? "I" : CHANNEL_NAMES[c - SRF_MeasurementFile::R]);
        if (!bands.empty())
            colour += " (" + std::to_string(bands.size()) + " wavelength columns skipped)";
    }
    else if (source == FROM_BANDS)
    {
        colour += "bands ";
        for (int b = 0; b < 3; ++b)
            colour += std::string(b ? ", " : "") + file.name(bands[b]) + " -> " + CHANNEL_NAMES[bandChannel[b]];
        colour += " (each to the sRGB primary of nearest dominant wavelength)";
    }
    else if (source == FROM_GREY_BAND)
        colour += std::string("the one band ") + file.name(bands[0]) + " as grey";
    else
        colour += std::to_string(bands.size()) + " wavelength columns " + number(sorted.front()) + " to " +
                  number(sorted.back()) +
                  " nm integrated against the CIE 1931 2-degree colour-matching functions under D65, as "
                  "linear sRGB";
    account.push_back(colour);
    if (!skipped.empty())
    {
        std::string text = "skipped columns:";
        for (const std::string &name : skipped)
            text += " " + name;
        if (knownOnly.rows > 0)
            text += " (" + std::to_string(knownOnly.rows) + " rows without their values)";
        account.push_back(text);
    }
    std::string rowLine =
        "rows: " + std::to_string(rowsRead) + " read of " + std::to_string(file.pointCount()) + " announced";
    if (blank > 0)
        rowLine += ", " + std::to_string(blank) + " blank lines skipped";
    if (notFinite > 0)
        rowLine += ", " + std::to_string(notFinite) + " rows with a value that is not a finite number skipped";
    if (irregular > 0)
        rowLine += ", " + std::to_string(irregular) + " rows with an unexpected number of values";
    account.push_back(rowLine);
    if (fills > 0)
        account.push_back("fill rows: " + std::to_string(fills) +
                          " dropped (theta_s 76 to 90 degrees holding a straight line from the 75-degree value "
                          "down to 0 at 90 degrees, not measurements)");
    std::vector<double> outside;
    for (int k : bands)
        if (wavelengths[k] < VISIBLE_FIRST || wavelengths[k] > VISIBLE_LAST)
            outside.push_back(wavelengths[k]);
    if (!outside.empty() && source != FROM_RGB)
    {
        std::string text = "warning: " + std::to_string(outside.size()) + " of " + std::to_string(bands.size()) +
                           " wavelength columns lie outside the visible 380 to 780 nm (";
        for (size_t b = 0; b < outside.size() && b < 4; ++b)
            text += (b ? " " : "") + number(outside[b]) + "nm";
        text += outside.size() > 4 ? " ...)" : ")";
        text += ": they only stretch the spectrum's ends";
        account.push_back(text);
    }
    if (negative > 0)
        account.push_back("negative values: " + std::to_string(negative) + " (kept as measured)");
    return data;
}
