// Single-precision 4x4 matrices and 3-vectors in the row-vector convention of Direct3D,
// and the integer rectangle clip shared by the blitters.

#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"

#include <cmath>

namespace {

// A negative aspect asks for the configured screen's height / width.
float ResolveAspect(float aspect)
{
    if (aspect >= 0.0f) return aspect;
    int32_t width = 0, height = 0;
    GetConfiguredScreenSize(&width, &height);
    return width != 0 ? static_cast<float>(height) / static_cast<float>(width) : 0.0f;
}

void ClearMatrix(Matrix4x4* out)
{
    for (auto& row : out->m)
        for (float& v : row) v = 0.0f;
}

Vector3 Subtract(const Vector3& a, const Vector3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vector3 Cross(const Vector3& a, const Vector3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

int32_t Clamp(int32_t v, int32_t low, int32_t high)
{
    if (v > high) return high;
    if (v < low) return low;
    return v;
}

}  // namespace

int SetIdentityMatrix4x4(Matrix4x4* out)
{
    ClearMatrix(out);
    for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
    return 0;
}

int MultiplyMatrix4x4(Matrix4x4* out, const Matrix4x4* a, const Matrix4x4* b)
{
    Matrix4x4 t;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t.m[r][c] = a->m[r][0] * b->m[0][c] + a->m[r][1] * b->m[1][c] + a->m[r][2] * b->m[2][c] +
                        a->m[r][3] * b->m[3][c];
    if (out) *out = t;
    return 0;
}

int TransposeMatrix4x4(Matrix4x4* out, const Matrix4x4* in)
{
    Matrix4x4 t;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) t.m[r][c] = in->m[c][r];
    *out = t;
    return 0;
}

int InvertMatrix4x4(Matrix4x4* out, const Matrix4x4* in)
{
    // Cofactor expansion through the 2x2 minors of the top and bottom row pairs.
    const float(*m)[4] = in->m;
    const double s0 = double(m[0][0]) * m[1][1] - double(m[1][0]) * m[0][1];
    const double s1 = double(m[0][0]) * m[1][2] - double(m[1][0]) * m[0][2];
    const double s2 = double(m[0][0]) * m[1][3] - double(m[1][0]) * m[0][3];
    const double s3 = double(m[0][1]) * m[1][2] - double(m[1][1]) * m[0][2];
    const double s4 = double(m[0][1]) * m[1][3] - double(m[1][1]) * m[0][3];
    const double s5 = double(m[0][2]) * m[1][3] - double(m[1][2]) * m[0][3];
    const double c5 = double(m[2][2]) * m[3][3] - double(m[3][2]) * m[2][3];
    const double c4 = double(m[2][1]) * m[3][3] - double(m[3][1]) * m[2][3];
    const double c3 = double(m[2][1]) * m[3][2] - double(m[3][1]) * m[2][2];
    const double c2 = double(m[2][0]) * m[3][3] - double(m[3][0]) * m[2][3];
    const double c1 = double(m[2][0]) * m[3][2] - double(m[3][0]) * m[2][2];
    const double c0 = double(m[2][0]) * m[3][1] - double(m[3][0]) * m[2][1];
    const double det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    if (std::fabs(det) < 1e-7) return -1;
    const double k = 1.0 / det;
    double r[4][4];
    r[0][0] = (m[1][1] * c5 - m[1][2] * c4 + m[1][3] * c3) * k;
    r[0][1] = (-m[0][1] * c5 + m[0][2] * c4 - m[0][3] * c3) * k;
    r[0][2] = (m[3][1] * s5 - m[3][2] * s4 + m[3][3] * s3) * k;
    r[0][3] = (-m[2][1] * s5 + m[2][2] * s4 - m[2][3] * s3) * k;
    r[1][0] = (-m[1][0] * c5 + m[1][2] * c2 - m[1][3] * c1) * k;
    r[1][1] = (m[0][0] * c5 - m[0][2] * c2 + m[0][3] * c1) * k;
    r[1][2] = (-m[3][0] * s5 + m[3][2] * s2 - m[3][3] * s1) * k;
    r[1][3] = (m[2][0] * s5 - m[2][2] * s2 + m[2][3] * s1) * k;
    r[2][0] = (m[1][0] * c4 - m[1][1] * c2 + m[1][3] * c0) * k;
    r[2][1] = (-m[0][0] * c4 + m[0][1] * c2 - m[0][3] * c0) * k;
    r[2][2] = (m[3][0] * s4 - m[3][1] * s2 + m[3][3] * s0) * k;
    r[2][3] = (-m[2][0] * s4 + m[2][1] * s2 - m[2][3] * s0) * k;
    r[3][0] = (-m[1][0] * c3 + m[1][1] * c1 - m[1][2] * c0) * k;
    r[3][1] = (m[0][0] * c3 - m[0][1] * c1 + m[0][2] * c0) * k;
    r[3][2] = (-m[3][0] * s3 + m[3][1] * s1 - m[3][2] * s0) * k;
    r[3][3] = (m[2][0] * s3 - m[2][1] * s1 + m[2][2] * s0) * k;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out->m[i][j] = static_cast<float>(r[i][j]);
    return 0;
}

int BuildFovProjectionMatrix(Matrix4x4* out, float angle, float zNear, float zFar, float aspect)
{
    aspect = ResolveAspect(aspect);
    float s = 0.0f, c = 0.0f;
    ComputeSinCos(angle * 0.5f, &s, &c);
    if (std::fabs(zFar - zNear) < 1e-4f || std::fabs(s) < 1e-4f) return -1;
    ClearMatrix(out);
    out->m[0][0] = aspect * c / s;
    out->m[1][1] = c / s;
    out->m[2][2] = zFar / (zFar - zNear);
    out->m[2][3] = 1.0f;
    out->m[3][2] = -zNear * zFar / (zFar - zNear);
    return 0;
}

int BuildParallelProjectionMatrix(Matrix4x4* out, float height, float zNear, float zFar, float aspect)
{
    aspect = ResolveAspect(aspect);
    if (std::fabs(zNear - zFar) < 1e-4f) return -1;
    const float width = height / aspect;
    ClearMatrix(out);
    out->m[0][0] = 2.0f / width;
    out->m[1][1] = 2.0f / height;
    out->m[2][2] = 1.0f / (zFar - zNear);
    out->m[3][2] = zNear / (zNear - zFar);
    out->m[3][3] = 1.0f;
    return 0;
}

int BuildScreenMappingMatrix(Matrix4x4* out, float centerX, float centerY, float width, float height)
{
    ClearMatrix(out);
    out->m[0][0] = width * 0.5f;
    out->m[1][1] = -height * 0.5f;
    out->m[2][2] = 1.0f;
    out->m[3][3] = 1.0f;
    out->m[3][0] = centerX;
    out->m[3][1] = centerY;
    return 0;
}

int BuildEyeViewMatrix(Matrix4x4* out, const Vector3* eye, const Vector3* target, const Vector3* up)
{
    Vector3 z = Subtract(*target, *eye);
    Vector3 x = Cross(*up, z);
    Vector3 y = Cross(z, x);
    NormalizeVector3(&z, &z);
    NormalizeVector3(&x, &x);
    NormalizeVector3(&y, &y);
    out->m[0][0] = x.x, out->m[0][1] = y.x, out->m[0][2] = z.x, out->m[0][3] = 0.0f;
    out->m[1][0] = x.y, out->m[1][1] = y.y, out->m[1][2] = z.y, out->m[1][3] = 0.0f;
    out->m[2][0] = x.z, out->m[2][1] = y.z, out->m[2][2] = z.z, out->m[2][3] = 0.0f;
    out->m[3][0] = -DotVector3(&x, eye);
    out->m[3][1] = -DotVector3(&y, eye);
    out->m[3][2] = -DotVector3(&z, eye);
    out->m[3][3] = 1.0f;
    return 0;
}

int TransformVector3(Vector3* out, const Vector3* in, const Matrix4x4* matrix)
{
    const Vector3 v = *in;
    out->x = v.x * matrix->m[0][0] + v.y * matrix->m[1][0] + v.z * matrix->m[2][0] + matrix->m[3][0];
    out->y = v.x * matrix->m[0][1] + v.y * matrix->m[1][1] + v.z * matrix->m[2][1] + matrix->m[3][1];
    out->z = v.x * matrix->m[0][2] + v.y * matrix->m[1][2] + v.z * matrix->m[2][2] + matrix->m[3][2];
    return 0;
}

float DotVector3(const Vector3* a, const Vector3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

int NormalizeVector3(Vector3* out, const Vector3* in)
{
    MakeUnitVector3(out, in->x, in->y, in->z);
    return 0;
}

Vector3* MakeUnitVector3(Vector3* out, float x, float y, float z)
{
    const float length = SquareRootFloat(x * x + y * y + z * z);
    if (length == 0.0f) {
        // No direction to keep: stay the zero vector instead of filling out with NaN.
        out->x = out->y = out->z = 0.0f;
        return out;
    }
    out->x = x / length;
    out->y = y / length;
    out->z = z / length;
    return out;
}

int ClampRectInsideRect(PixelRect* rect, const PixelRect* bound)
{
    if (rect->right < rect->left) rect->right = rect->left;
    if (rect->bottom < rect->top) rect->bottom = rect->top;
    rect->bottom = Clamp(rect->bottom, bound->top, bound->bottom);
    rect->top = Clamp(rect->top, bound->top, bound->bottom);
    rect->right = Clamp(rect->right, bound->left, bound->right);
    rect->left = Clamp(rect->left, bound->left, bound->right);
    return 0;
}

Vector3* TransformDirectionByMatrix(Vector3* out, const Vector3* in, const Matrix4x4* matrix)
{
    const Vector3 v = *in;
    const auto& m = matrix->m;
    out->x = v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0];
    out->y = v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1];
    out->z = v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2];
    return out;
}
