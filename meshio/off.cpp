// OFF reading and writing. A header keyword (OFF, with the C, N and ST
// prefixes that announce extra columns), the counts of vertices, faces and
// edges, then one vertex per line (x y z and columns that are ignored) and
// one face per line (its point count, the indices from 0, and an optional
// colour that is ignored). '#' starts a comment.
#include "meshio/formats.h"

#include <charconv>
#include <climits>
#include <cmath>

namespace {

struct Lines {
    const std::string &data;
    const std::string &name;
    std::string *error;
    size_t pos = 0;
    int line = 0;

    bool Fail(const std::string &what)
    {
        if (error)
            *error = name + ":" + std::to_string(line) + ": " + what;
        return false;
    }
    // The next line that holds more than blanks and a comment, as words;
    // false at the end of the data.
    bool Next(std::vector<std::string_view> *words)
    {
        while (pos < data.size()) {
            size_t end = data.find('\n', pos);
            if (end == std::string::npos)
                end = data.size();
            std::string_view text(data.data() + pos, end - pos);
            pos = end + 1;
            line++;
            const size_t hash = text.find('#');
            if (hash != std::string_view::npos)
                text = text.substr(0, hash);
            words->clear();
            size_t i = 0;
            while (i < text.size()) {
                while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
                    i++;
                size_t start = i;
                while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r')
                    i++;
                if (i > start)
                    words->push_back(text.substr(start, i - start));
            }
            if (!words->empty())
                return true;
        }
        return false;
    }
};

bool ParseCount(std::string_view w, long long *out)
{
    auto res = std::from_chars(w.data(), w.data() + w.size(), *out);
    return res.ec == std::errc() && res.ptr == w.data() + w.size() && *out >= 0;
}

// A finite decimal number (not "nan" or "inf"), correctly rounded.
bool ParseCoordinate(std::string_view w, double *out)
{
    if (!w.empty() && w[0] == '+')
        w.remove_prefix(1);
    const size_t lead = (!w.empty() && w[0] == '-') ? 1 : 0;
    if (lead >= w.size() || !(std::isdigit((unsigned char)w[lead]) || w[lead] == '.'))
        return false;
    auto res = std::from_chars(w.data(), w.data() + w.size(), *out);
    return res.ec == std::errc() && res.ptr == w.data() + w.size() && std::isfinite(*out);
}

// OFF, COFF, NOFF, CNOFF, STOFF, STCNOFF...: the columns they add to a
// vertex line come after x y z and are ignored. 4OFF and nOFF change the
// dimension, and a binary OFF is not text: both are refused.
bool IsHeaderKeyword(std::string_view w)
{
    if (w.size() < 3 || w.substr(w.size() - 3) != "OFF")
        return false;
    std::string_view prefix = w.substr(0, w.size() - 3);
    if (prefix.substr(0, 2) == "ST")
        prefix.remove_prefix(2);
    if (!prefix.empty() && prefix[0] == 'C')
        prefix.remove_prefix(1);
    if (!prefix.empty() && prefix[0] == 'N')
        prefix.remove_prefix(1);
    return prefix.empty();
}

}  // namespace

bool ReadOff(const std::string &data, const std::string &name, MeshData *mesh, MeshReadInfo *,
             std::string *error, const MeshBudget &budget)
{
    Lines in{data, name, error};
    std::vector<std::string_view> w;
    if (!in.Next(&w))
        return in.Fail("not an OFF file: it is empty");
    if (!IsHeaderKeyword(w[0]))
        return in.Fail("not an OFF file: it starts with '" + std::string(w[0]) +
                       "' (4OFF, nOFF and binary OFF are not read)");
    if (w.size() > 1 && w[1] == "BINARY")
        return in.Fail("binary OFF is not read");
    // The counts follow on the same line or on the next.
    std::vector<std::string_view> counts(w.begin() + 1, w.end());
    if (counts.empty()) {
        if (!in.Next(&w))
            return in.Fail("the file ends before the vertex and face counts");
        counts = w;
    }
    long long nv = 0, nf = 0, ne = 0;
    if (counts.size() < 2 || counts.size() > 3 || !ParseCount(counts[0], &nv) ||
        !ParseCount(counts[1], &nf) || (counts.size() == 3 && !ParseCount(counts[2], &ne)))
        return in.Fail("expected the counts of vertices, faces and edges");
    // Each vertex and face takes a line of at least two bytes: a count past
    // what the file can hold is refused before anything is kept for it.
    const long long room = (long long)(data.size() - std::min(in.pos, data.size())) / 2 + 1;
    if (nv > room || nf > room || nv > INT_MAX)
        return in.Fail("the counts " + std::to_string(nv) + " vertices and " + std::to_string(nf) +
                       " faces are more than the file holds");
    const std::string fault = BudgetFault(budget, 3 * nf, nv, nf, 0);
    if (!fault.empty())
        return in.Fail("the counts " + std::to_string(nv) + " vertices and " + std::to_string(nf) +
                       " faces make " + fault);
    long long corners = 0;
    // Room is kept for what the file can hold of whole lines: a vertex line
    // takes at least 6 bytes ("0 0 0\n"), a face line 8 ("3 0 1 2\n").
    // Two-byte lines reserved in full would take far more than any file of
    // that size can make.
    mesh->points.reserve((size_t)std::min(nv, 2 * room / 6));
    MeshReservePolys(mesh, (size_t)std::min(nf, 2 * room / 8), 3 * (size_t)std::min(nf, 2 * room / 8));
    const int surface = MeshInternSurface(mesh, "Default");
    std::vector<int> poly;
    for (long long i = 0; i < nv; i++) {
        if (!in.Next(&w))
            return in.Fail("the file ends after " + std::to_string(i) + " of " + std::to_string(nv) +
                           " vertices");
        double xyz[3];
        if (w.size() < 3)
            return in.Fail("vertex " + std::to_string(i + 1) + " needs 3 coordinates");
        for (int k = 0; k < 3; k++)
            if (!ParseCoordinate(w[(size_t)k], &xyz[k]))
                return in.Fail("not a finite number: '" + std::string(w[(size_t)k]) + "'");
        mesh->points.push_back({xyz[0], xyz[1], xyz[2]});
    }
    for (long long f = 0; f < nf; f++) {
        if (!in.Next(&w))
            return in.Fail("the file ends after " + std::to_string(f) + " of " + std::to_string(nf) +
                           " faces");
        long long n = 0;
        if (!ParseCount(w[0], &n))
            return in.Fail("face " + std::to_string(f + 1) + ": bad point count '" + std::string(w[0]) + "'");
        if (n < 3)
            return in.Fail("face " + std::to_string(f + 1) + " has " + std::to_string(n) +
                           " points (at least 3 needed)");
        // up to four colour values may follow the indices
        if ((long long)w.size() < n + 1 || (long long)w.size() > n + 5)
            return in.Fail("face " + std::to_string(f + 1) + " announces " + std::to_string(n) +
                           " points but has " + std::to_string(w.size() - 1) + " values");
        corners += n;
        if (corners > budget.corners)
            return in.Fail("face " + std::to_string(f) + " makes " + BudgetFault(budget, corners, 0, 0, 0));
        poly.clear();
        for (long long k = 1; k <= n; k++) {
            long long v = 0;
            if (!ParseCount(w[(size_t)k], &v) || v >= nv)
                return in.Fail("face " + std::to_string(f + 1) + ": vertex index '" +
                               std::string(w[(size_t)k]) + "' is out of range (the file has " +
                               std::to_string(nv) + " vertices, indexed from 0)");
            poly.push_back((int)v);
        }
        MeshAddPoly(mesh, poly, surface);
    }
    if (in.Next(&w))
        return in.Fail("more lines than the counts announce");
    return true;
}

std::string OffText(const MeshData &mesh)
{
    std::string out = "OFF\n" + std::to_string(mesh.points.size()) + " " +
                      std::to_string(MeshPolyCount(mesh)) + " 0\n";
    for (const auto &p : mesh.points)
        MeshAppendPointLine(&out, p);
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        out += std::to_string(poly.size());
        for (int v : poly) {
            out += ' ';
            out += std::to_string(v);
        }
        out += '\n';
    }
    return out;
}
