#include "quarn/core/core.h"
#include "quarn/core/screen_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

Matrix4x4 Make(std::initializer_list<float> values)
{
    Matrix4x4 m{};
    int i = 0;
    for (float v : values) {
        m.m[i / 4][i % 4] = v;
        ++i;
    }
    return m;
}

void ExpectMatrixNear(const Matrix4x4& got, const Matrix4x4& want, float tolerance = 1e-5f)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(got.m[r][c], want.m[r][c], tolerance) << "element " << r << c;
}

const Matrix4x4 kA = Make({1, 2, 3, 4, 0, 1, 4, 2, 5, 6, 0, 1, 2, 0, 1, 3});
const Matrix4x4 kB = Make({2, 0, 1, 0, 1, 3, 0, 2, 0, 1, 4, 1, 3, 0, 0, 1});
// kA x kB, worked out by hand.
const Matrix4x4 kAB = Make({16, 9, 13, 11, 7, 7, 16, 8, 19, 18, 5, 13, 13, 1, 6, 4});

TEST(Matrix, MultiplyIntoEitherOperand)
{
    Matrix4x4 out;
    MultiplyMatrix4x4(&out, &kA, &kB);
    ExpectMatrixNear(out, kAB);
    Matrix4x4 a = kA;
    MultiplyMatrix4x4(&a, &a, &kB);
    ExpectMatrixNear(a, kAB);
    Matrix4x4 b = kB;
    MultiplyMatrix4x4(&b, &kA, &b);
    ExpectMatrixNear(b, kAB);
    EXPECT_EQ(MultiplyMatrix4x4(nullptr, &kA, &kB), 0);
}

TEST(Matrix, IdentityTransposeAndInverse)
{
    Matrix4x4 id;
    SetIdentityMatrix4x4(&id);
    ExpectMatrixNear(id, Make({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));

    Matrix4x4 t;
    TransposeMatrix4x4(&t, &kA);
    EXPECT_EQ(t.m[0][2], kA.m[2][0]);
    EXPECT_EQ(t.m[3][1], kA.m[1][3]);

    Matrix4x4 inverse;
    ASSERT_EQ(InvertMatrix4x4(&inverse, &kA), 0);
    Matrix4x4 product;
    MultiplyMatrix4x4(&product, &kA, &inverse);
    ExpectMatrixNear(product, id);
    MultiplyMatrix4x4(&product, &inverse, &kA);
    ExpectMatrixNear(product, id);

    // A zero row: no inverse, and out keeps what it held.
    Matrix4x4 singular = kA;
    singular.m[2][0] = singular.m[2][1] = singular.m[2][2] = singular.m[2][3] = 0;
    Matrix4x4 untouched = kB;
    EXPECT_EQ(InvertMatrix4x4(&untouched, &singular), -1);
    ExpectMatrixNear(untouched, kB, 0);
}

TEST(Matrix, FovProjectionAgainstHandValues)
{
    // 90 degrees: cot(45) = 1. near 1, far 101: m22 = 101 / 100, m32 = -101 / 100.
    Matrix4x4 p;
    ASSERT_EQ(BuildFovProjectionMatrix(&p, 3.14159265f / 2, 1.0f, 101.0f, 0.75f), 0);
    ExpectMatrixNear(p, Make({0.75f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.01f, 1, 0, 0, -1.01f, 0}));

    // 60 degrees: cot(30) = sqrt(3).
    ASSERT_EQ(BuildFovProjectionMatrix(&p, 3.14159265f / 3, 2.0f, 4.0f, 1.0f), 0);
    EXPECT_NEAR(p.m[1][1], std::sqrt(3.0f), 1e-5f);
    EXPECT_NEAR(p.m[2][2], 2.0f, 1e-6f);
    EXPECT_NEAR(p.m[3][2], -4.0f, 1e-6f);

    Matrix4x4 unchanged = kA;
    EXPECT_EQ(BuildFovProjectionMatrix(&unchanged, 1.0f, 5.0f, 5.0f, 1.0f), -1);
    EXPECT_EQ(BuildFovProjectionMatrix(&unchanged, 0.0f, 1.0f, 5.0f, 1.0f), -1);
    ExpectMatrixNear(unchanged, kA, 0);
}

TEST(Matrix, NegativeAspectTakesTheConfiguredScreen)
{
    const ScreenSettings saved = g_screenSettings;
    g_screenSettings.width = 300;
    g_screenSettings.height = 60;
    Matrix4x4 p;
    ASSERT_EQ(BuildFovProjectionMatrix(&p, 3.14159265f / 2, 1.0f, 10.0f, -1.0f), 0);
    EXPECT_NEAR(p.m[0][0], 0.2f, 1e-6f);
    ASSERT_EQ(BuildParallelProjectionMatrix(&p, 60.0f, 0.0f, 10.0f, -1.0f), 0);
    EXPECT_NEAR(p.m[0][0], 2.0f / 300.0f, 1e-7f);
    g_screenSettings.width = 0;  // unset: 640 x 480
    g_screenSettings.height = 0;
    ASSERT_EQ(BuildFovProjectionMatrix(&p, 3.14159265f / 2, 1.0f, 10.0f, -1.0f), 0);
    EXPECT_NEAR(p.m[0][0], 0.75f, 1e-6f);
    g_screenSettings = saved;
}

TEST(Matrix, ParallelProjectionAndScreenMapping)
{
    Matrix4x4 p;
    ASSERT_EQ(BuildParallelProjectionMatrix(&p, 480.0f, 10.0f, 110.0f, 0.75f), 0);
    ExpectMatrixNear(p, Make({2.0f / 640, 0, 0, 0, 0, 2.0f / 480, 0, 0, 0, 0, 0.01f, 0, 0, 0, -0.1f, 1}));
    EXPECT_EQ(BuildParallelProjectionMatrix(&p, 480.0f, 3.0f, 3.00001f, 0.75f), -1);

    Matrix4x4 s;
    BuildScreenMappingMatrix(&s, 320, 240, 640, 480);
    ExpectMatrixNear(s, Make({320, 0, 0, 0, 0, -240, 0, 0, 0, 0, 1, 0, 320, 240, 0, 1}));
    // The projection's corners land on the screen's, y down.
    Vector3 corner = {-1, 1, 0.5f}, mapped;
    TransformVector3(&mapped, &corner, &s);
    EXPECT_FLOAT_EQ(mapped.x, 0);
    EXPECT_FLOAT_EQ(mapped.y, 0);
}

TEST(Matrix, EyeViewAgainstHandValues)
{
    // Looking along +z from (0, 0, -10) with y up: x = (1, 0, 0), y = (0, 1, 0), z = (0, 0, 1).
    Vector3 eye = {0, 0, -10}, target = {0, 0, 0}, up = {0, 1, 0};
    Matrix4x4 v;
    BuildEyeViewMatrix(&v, &eye, &target, &up);
    ExpectMatrixNear(v, Make({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 10, 1}));

    // Looking along +x from (1, 2, 3): right-hand axis becomes -z.
    eye = {1, 2, 3};
    target = {5, 2, 3};
    BuildEyeViewMatrix(&v, &eye, &target, &up);
    ExpectMatrixNear(v, Make({0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 3, -2, -1, 1}));
    // The eye maps to the origin, the target onto +z.
    Vector3 at;
    TransformVector3(&at, &eye, &v);
    EXPECT_NEAR(at.x, 0, 1e-6f);
    EXPECT_NEAR(at.y, 0, 1e-6f);
    EXPECT_NEAR(at.z, 0, 1e-6f);
    TransformVector3(&at, &target, &v);
    EXPECT_NEAR(at.z, 4, 1e-6f);
}

TEST(Vector, PointsAndDirectionsThroughAMatrix)
{
    Matrix4x4 m{};
    SetIdentityMatrix4x4(&m);
    m.m[0][1] = 2.0f;   // y gains twice x
    m.m[3][0] = 10.0f;  // translation
    m.m[3][2] = -4.0f;
    m.m[0][3] = 99.0f;  // the fourth column is not used
    const Vector3 in{1.0f, 2.0f, 3.0f};
    Vector3 point{};
    Vector3 direction{};
    TransformVector3(&point, &in, &m);
    EXPECT_EQ(TransformDirectionByMatrix(&direction, &in, &m), &direction);
    EXPECT_FLOAT_EQ(point.x, 11.0f);
    EXPECT_FLOAT_EQ(point.y, 4.0f);
    EXPECT_FLOAT_EQ(point.z, -1.0f);
    EXPECT_FLOAT_EQ(direction.x, 1.0f);
    EXPECT_FLOAT_EQ(direction.y, 4.0f);
    EXPECT_FLOAT_EQ(direction.z, 3.0f);
    // In and out may be one vector.
    Vector3 same = in;
    TransformDirectionByMatrix(&same, &same, &m);
    EXPECT_FLOAT_EQ(same.y, 4.0f);
}

TEST(Vector, TransformDotAndUnit)
{
    Vector3 zero = {0, 0, 0}, out;
    TransformVector3(&out, &zero, &kA);
    EXPECT_EQ(out.x, kA.m[3][0]);
    EXPECT_EQ(out.y, kA.m[3][1]);
    EXPECT_EQ(out.z, kA.m[3][2]);
    Vector3 v = {1, 2, 3};
    TransformVector3(&v, &v, &kA);  // in place
    EXPECT_FLOAT_EQ(v.x, 1 * 1 + 2 * 0 + 3 * 5 + 2);
    EXPECT_FLOAT_EQ(v.z, 1 * 3 + 2 * 4 + 3 * 0 + 1);

    const Vector3 a = {1, 2, 3}, b = {4, -5, 6};
    EXPECT_FLOAT_EQ(DotVector3(&a, &b), 12);
    Vector3 unit;
    EXPECT_EQ(MakeUnitVector3(&unit, 3, 0, 4), &unit);
    EXPECT_FLOAT_EQ(unit.x, 0.6f);
    EXPECT_FLOAT_EQ(unit.z, 0.8f);
    NormalizeVector3(&unit, &b);
    EXPECT_NEAR(DotVector3(&unit, &unit), 1.0f, 1e-6f);
    MakeUnitVector3(&unit, 0, 0, 0);
    EXPECT_EQ(unit.x, 0.0f);
    EXPECT_FALSE(std::isnan(unit.y));
}

TEST(Clip, ClampRectInsideRect)
{
    struct Case {
        PixelRect rect, bound, want;
    } const cases[] = {
        {{-10, -10, 50, 50}, {0, 0, 40, 30}, {0, 0, 40, 30}},
        {{5, 6, 7, 8}, {0, 0, 40, 30}, {5, 6, 7, 8}},         // inside: unchanged
        {{50, 5, 60, 10}, {0, 0, 40, 30}, {40, 5, 40, 10}},   // wholly right: empty on the edge
        {{-20, 5, -10, 10}, {0, 0, 40, 30}, {0, 5, 0, 10}},   // wholly left
        {{5, 40, 10, 50}, {0, 0, 40, 30}, {5, 30, 10, 30}},   // wholly below
        {{10, 10, 5, 20}, {0, 0, 40, 30}, {10, 10, 10, 20}},  // reversed x: right raised
        {{10, 20, 15, 5}, {0, 0, 40, 30}, {10, 20, 15, 20}},  // reversed y: bottom raised
        {{-5, -5, 45, 35}, {10, 10, 20, 20}, {10, 10, 20, 20}},
        {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {1, 2, 3, 4}, {1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        PixelRect r = c.rect;
        EXPECT_EQ(ClampRectInsideRect(&r, &c.bound), 0);
        EXPECT_EQ(r.left, c.want.left) << c.rect.left << "," << c.rect.top;
        EXPECT_EQ(r.top, c.want.top) << c.rect.left << "," << c.rect.top;
        EXPECT_EQ(r.right, c.want.right) << c.rect.left << "," << c.rect.top;
        EXPECT_EQ(r.bottom, c.want.bottom) << c.rect.left << "," << c.rect.top;
    }
}

// 128-bit helpers: fixed cases for every build, checked against __int128 where the
// compiler has it.
struct WideCase {
    uint64_t a, b;
    uint32_t product[4];
};
const WideCase kWideCases[] = {
    {0, 0, {0, 0, 0, 0}},
    {1, 1, {1, 0, 0, 0}},
    {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, {1, 0, 0xFFFFFFFEu, 0xFFFFFFFFu}},
    {0xFFFFFFFFull, 0xFFFFFFFFull, {1, 0xFFFFFFFEu, 0, 0}},
    {0x123456789ABCDEF0ull, 1000000, {0x70C19C00u, 0x1C71C71Cu, 0x000115C7u, 0}},
};

TEST(Wide, MultiplyAndDivideFixedCases)
{
    for (const WideCase& c : kWideCases) {
        UInt128 p;
        Multiply64To128(&c.a, &c.b, &p);
        for (int w = 0; w < 4; ++w)
            EXPECT_EQ(p.word[w], c.product[w]) << std::hex << c.a << " x " << c.b << " word " << w;
        if (c.b != 0) {
            uint64_t q = 1;
            Divide128By64(&p, &c.b, &q);
            EXPECT_EQ(q, c.a);
        }
    }
    // A zero divisor returns 0 instead of looping.
    UInt128 any = {{5, 6, 7, 8}};
    const uint64_t zero = 0;
    uint64_t q = 99;
    Divide128By64(&any, &zero, &q);
    EXPECT_EQ(q, 0u);
    // The quotient keeps its low 64 bits when it is wider.
    const UInt128 big = {{0, 0, 0, 1}};  // 2^96
    const uint64_t two = 2;
    Divide128By64(&big, &two, &q);
    EXPECT_EQ(q, 0u);
    const uint64_t high = 1ull << 33;
    Divide128By64(&big, &high, &q);
    EXPECT_EQ(q, 1ull << 63);
}

#if defined(__SIZEOF_INT128__)
TEST(Wide, AgainstInt128)
{
    std::mt19937_64 rng(12345);
    for (int i = 0; i < 20000; ++i) {
        // Mix full-width values with small ones and single bits.
        uint64_t a = rng(), b = rng();
        if (i % 3 == 1) b >>= rng() % 64;
        if (i % 5 == 2) a = 1ull << (rng() % 64);
        UInt128 p;
        Multiply64To128(&a, &b, &p);
        const unsigned __int128 want = static_cast<unsigned __int128>(a) * b;
        const unsigned __int128 got = (static_cast<unsigned __int128>(p.word[3]) << 96) |
                                      (static_cast<unsigned __int128>(p.word[2]) << 64) |
                                      (static_cast<unsigned __int128>(p.word[1]) << 32) | p.word[0];
        ASSERT_TRUE(got == want) << a << " x " << b;

        const uint64_t divisor = (i % 7 == 0) ? (rng() >> (rng() % 64)) | 1 : rng() | 1;
        uint64_t q = 0;
        Divide128By64(&p, &divisor, &q);
        ASSERT_EQ(q, static_cast<uint64_t>(want / divisor)) << a << " x " << b << " / " << divisor;
    }
}
#endif

}  // namespace
