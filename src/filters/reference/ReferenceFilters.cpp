#include "filters/reference/ReferenceFilters.hpp"

#include <vector>

#include "core/Grid.hpp"

namespace shapescale::reference {

namespace {

bool inGrid(const int* dims, int x, int y, int z) {
    return x >= 0 && y >= 0 && z >= 0 && x < dims[0] && y < dims[1] && z < dims[2];
}

// Reads voxel p + k along `axis`.
float along(const float* v, const int* dims, const int* p, int axis, int k) {
    int q[3] = {p[0], p[1], p[2]};
    q[axis] += k;
    return v[voxelIndex(dims, q[0], q[1], q[2])];
}

void convolve(const float* in, const int* dims, const FILTER* f, float* out, int axis) {
    const int n = dims[axis];
    const int m = f->size;
    int p[3];
    for (p[2] = 0; p[2] < dims[2]; ++p[2])
        for (p[1] = 0; p[1] < dims[1]; ++p[1])
            for (p[0] = 0; p[0] < dims[0]; ++p[0]) {
                if (p[axis] < m || p[axis] > n - m - 1) continue;
                float sum = in[voxelIndex(dims, p[0], p[1], p[2])] * f->coef[0];
                for (int k = 1; k < m; ++k)
                    sum += (along(in, dims, p, axis, k) + along(in, dims, p, axis, -k)) *
                           f->coef[static_cast<std::size_t>(k)];
                out[voxelIndex(dims, p[0], p[1], p[2])] = sum;
            }
}

void separable(const float* in, float* out, const int* dims, const FILTER& f) {
    std::vector<float> t1(voxelCount(dims), 0.0f), t2(voxelCount(dims), 0.0f);
    convolve(in, dims, &f, t1.data(), 0);
    convolve(t1.data(), dims, &f, t2.data(), 1);
    convolve(t2.data(), dims, &f, out, 2);
}

// The window [lo, hi) of position c on an axis of extent n; empty unless c is
// interior (trunc(r) <= c and c < n - r in single precision).
void boxWindow(int c, int n, float r, int& lo, int& hi) {
    lo = hi = 0;
    if (!(r > 0.0f) || c < static_cast<int>(r) ||
        !(static_cast<float>(c) < static_cast<float>(n) - r))
        return;
    lo = static_cast<int>(static_cast<float>(c) - r);
    hi = static_cast<int>(static_cast<float>(c) + r);
}

// One box pass along `axis`: each voxel of `out` accumulates the input over
// its window, in increasing position.
void addWindowSums(const float* in, float* out, const int* dims, float r, int axis) {
    int p[3], lo = 0, hi = 0;
    for (p[2] = 0; p[2] < dims[2]; ++p[2])
        for (p[1] = 0; p[1] < dims[1]; ++p[1])
            for (p[0] = 0; p[0] < dims[0]; ++p[0]) {
                boxWindow(p[axis], dims[axis], r, lo, hi);
                for (int k = lo; k < hi; ++k)
                    out[voxelIndex(dims, p[0], p[1], p[2])] +=
                        along(in, dims, p, axis, k - p[axis]);
            }
}

}  // namespace

void sphereFlt(const float* in, float* out, const int* dims, float r) {
    sphereFlt(in, out, dims, r, 1);
}

void sphereFlt(const float* in, float* out, const int* dims, float r, int rowStep) {
    const int R = static_cast<int>(r);
    const int lo = static_cast<int>(-r);
    for (int x = 0; x < dims[0]; ++x)
        for (int y = 0; y < dims[1]; y += rowStep)
            for (int z = 0; z < dims[2]; z += rowStep) {
                float& sum = out[voxelIndex(dims, x, y, z)];
                sum = 0.0f;
                for (int a = lo; a <= R - 1; ++a)
                    for (int b = lo; b <= R - 1; ++b)
                        for (int c = lo; c <= R - 1; ++c)
                            if (static_cast<float>(a * a + b * b + c * c) <= r * r &&
                                inGrid(dims, x + a, y + b, z + c))
                                sum += in[voxelIndex(dims, x + a, y + b, z + c)];
            }
}

void boxFlt(const float* in, float* out, const int* dims, float r) {
    std::vector<float> t1(voxelCount(dims), 0.0f), t2(voxelCount(dims), 0.0f);
    addWindowSums(in, t1.data(), dims, r, 0);
    addWindowSums(t1.data(), t2.data(), dims, r, 1);
    addWindowSums(t2.data(), out, dims, r, 2);
}

void float_convol0(const float* in, const int* dims, const FILTER* f, float* out) {
    convolve(in, dims, f, out, 0);
}
void float_convol1(const float* in, const int* dims, const FILTER* f, float* out) {
    convolve(in, dims, f, out, 1);
}
void float_convol2(const float* in, const int* dims, const FILTER* f, float* out) {
    convolve(in, dims, f, out, 2);
}

void filter3D(const float* in, float* out, const int* dims, float sigma, int maxSize) {
    FILTER f;
    compute_mask(&f, sigma, maxSize);
    separable(in, out, dims, f);
}

void filter3DNN(const float* in, float* out, const int* dims, float sigma, int maxSize) {
    FILTER f;
    compute_maskNN(&f, sigma, maxSize);
    separable(in, out, dims, f);
}

}  // namespace shapescale::reference
