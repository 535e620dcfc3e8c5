// Full paths: a path made absolute against a base directory, with "." and ".." resolved
// and "\" as its separator; and the upper-cased form in which archive paths are compared.

#include "quarn/core/file_internal.h"
#include "quarn/core/file_os.h"
#include "quarn/core/files.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A full path being built in the caller's buffer of kFilePathUnits units.
class FullPath {
public:
    FullPath(wchar_t* out, bool upperCase) : out_(out), upperCase_(upperCase) { out_[0] = 0; }

    void Append(const wchar_t* units, int count)
    {
        if (length_ + count >= kFilePathUnits) {
            tooLong_ = true;
            return;
        }
        for (int i = 0; i < count; ++i) {
            wchar_t c = units[i];
            if (upperCase_ && c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
            out_[length_++] = c;
        }
        out_[length_] = 0;
    }
    void AppendElement(const wchar_t* element, int count)
    {
        Append(L"\\", 1);
        Append(element, count);
    }
    // Removes the last element, back to the "\" before it, but never past a "/" or a
    // drive's colon.
    void DropLastElement()
    {
        for (int k = length_ - 1; k >= 0; --k) {
            if (out_[k] == L'\\') {
                length_ = k;
                out_[length_] = 0;
                return;
            }
            if (out_[k] == L'/' || out_[k] == L':') return;
        }
    }
    void DropTrailingSeparator()
    {
        if (length_ > 0 && IsSeparator(out_[length_ - 1])) out_[--length_] = 0;
    }
    int Finish()
    {
        if (!tooLong_) return 0;
        out_[0] = 0;
        return RefuseLongPath();
    }

private:
    wchar_t* out_;
    int length_ = 0;
    bool upperCase_;
    bool tooLong_ = false;
};

// comparable: upper-cased, and after a drive's colon only "\" starts at the root.
int BuildFullPath(const wchar_t* relative, wchar_t* out, const wchar_t* base, bool comparable)
{
    FullPath full(out, comparable);
    if (!relative) {
        full.Append(base, CountWideUnits(base));
        return full.Finish();
    }
    const wchar_t* r = relative;
    int i = 0;
    if (IsSeparator(r[0]) && r[1] == r[0]) {
        full.Append(L"\\", 1);  // a UNC path keeps its two leading backslashes
        i = 2;
    } else if (IsSeparator(r[0])) {
        full.Append(base, CountWideUnits(base) < 2 ? CountWideUnits(base) : 2);
        i = 1;
    } else if (r[0] != 0 && r[1] == L':') {
        full.Append(r, 2);
        i = 2;
        if (comparable ? r[2] == L'\\' : IsSeparator(r[2])) i = 3;
    } else {
        full.Append(base, CountWideUnits(base));
        full.DropTrailingSeparator();
    }
    for (;;) {
        const int start = i;
        while (r[i] != 0 && !IsSeparator(r[i])) ++i;
        const int length = i - start;
        if (r[i] == 0) {
            if (length > 0) full.AppendElement(r + start, length);
            break;
        }
        if (length == 1 && r[start] == L'.') {
        } else if (length == 2 && r[start] == L'.' && r[start + 1] == L'.') {
            full.DropLastElement();
        } else if (length > 0) {
            full.AppendElement(r + start, length);
        }
        ++i;
    }
    return full.Finish();
}

}  // namespace

int ResolveFullPath(const wchar_t* relative, wchar_t* out, const wchar_t* base)
{
    wchar_t current[kFilePathUnits];
    if (!base) {
        current[0] = 0;
        if (GetCurrentDirectoryThroughTable(current) < 0) {
            out[0] = 0;
            return -1;
        }
        base = current;
    }
    return BuildFullPath(relative, out, base, false);
}

int MakeComparablePath(const wchar_t* path, wchar_t* out)
{
    wchar_t current[kFilePathUnits];
    const uint32_t n = FileOsGetCurrentDirectory(kFilePathUnits, current);
    if (n == 0 || n >= uint32_t(kFilePathUnits)) {
        out[0] = 0;
        return n == 0 ? -1 : RefuseLongPath();
    }
    return BuildFullPath(path, out, current, true);
}
