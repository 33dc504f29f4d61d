// A small dense matrix in row-major order whose element block is shared between copies: a copy
// takes a reference to the block, the first write through a shared block copies it, and the last
// owner frees it. The block holds rows x cols elements followed by one 32-bit share count, so a
// 3 x 3 float matrix occupies ten 32-bit words.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace zim {

template <class T>
class matrix {
    static_assert(std::is_trivially_copyable<T>::value, "matrix elements are copied as bytes");

public:
    matrix() = default;
    // A rows x cols matrix of zeros; a negative size gives an empty matrix.
    matrix(int rows, int cols)
    {
        if (rows <= 0 || cols <= 0) return;
        if (!allocate(rows, cols)) return;
        for (int i = 0; i < rows * cols; ++i) m_data[i] = T(0);
    }
    matrix(const matrix& other) : m_rows(other.m_rows), m_cols(other.m_cols), m_data(other.m_data)
    {
        if (m_data) ++count();
    }
    matrix& operator=(const matrix& other)
    {
        if (m_data == other.m_data) {
            m_rows = other.m_rows;
            m_cols = other.m_cols;
            return *this;
        }
        release();
        m_rows = other.m_rows;
        m_cols = other.m_cols;
        m_data = other.m_data;
        if (m_data) ++count();
        return *this;
    }
    virtual ~matrix() { release(); }

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    bool isEmpty() const { return !m_data; }
    // Owners of the element block (0 for an empty matrix).
    int shareCount() const { return m_data ? count() : 0; }
    // The block itself, for telling whether two matrices share it.
    const T* block() const { return m_data; }

    // Element access; indices are not checked beyond the caller keeping them inside.
    T at(int i, int j) const { return m_data[i * m_cols + j]; }
    T operator()(int i, int j) const { return at(i, j); }
    // Writable access: a block shared with other matrices is copied first.
    T& operator()(int i, int j)
    {
        detach();
        return m_data[i * m_cols + j];
    }
    void set(int i, int j, T value) { (*this)(i, j) = value; }

    // In-place inversion by Gauss-Jordan elimination with full pivoting. False for a matrix
    // that is not square (no message) or singular ("invert is not availble!"; the matrix is
    // then partly overwritten).
    bool invert();

private:
    bool allocate(int rows, int cols)
    {
        const std::size_t n = std::size_t(rows) * std::size_t(cols);
        void* block = std::malloc(n * sizeof(T) + sizeof(std::int32_t));
        if (!block) return false;
        m_data = static_cast<T*>(block);
        m_rows = rows;
        m_cols = cols;
        setCount(1);
        return true;
    }
    std::int32_t* countPtr() const { return reinterpret_cast<std::int32_t*>(m_data + std::size_t(m_rows) * m_cols); }
    std::int32_t& count() const { return *countPtr(); }
    void setCount(std::int32_t c) { count() = c; }
    void release()
    {
        if (m_data && --count() == 0) std::free(m_data);
        m_data = nullptr;
    }
    void detach()
    {
        if (!m_data || count() == 1) return;
        T* old = m_data;
        const std::size_t n = std::size_t(m_rows) * std::size_t(m_cols);
        void* block = std::malloc(n * sizeof(T) + sizeof(std::int32_t));
        if (!block) throw std::bad_alloc();
        std::memcpy(block, old, n * sizeof(T));
        --count();
        m_data = static_cast<T*>(block);
        setCount(1);
    }
    int m_rows = 0;
    int m_cols = 0;
    T* m_data = nullptr;
};

// Matrix product. Throws the text "Matrices do not have common size" (a char*) when a's column
// count differs from b's row count.
template <class T>
matrix<T> operator*(const matrix<T>& a, const matrix<T>& b)
{
    static char mismatch[] = "Matrices do not have common size";
    if (a.cols() != b.rows()) throw static_cast<char*>(mismatch);
    matrix<T> out(a.rows(), b.cols());
    for (int i = 0; i < a.rows(); ++i)
        for (int j = 0; j < b.cols(); ++j) {
            T sum = T(0);
            for (int k = 0; k < a.cols(); ++k) sum += a.at(i, k) * b.at(k, j);
            out(i, j) = sum;
        }
    return out;
}

// Gauss-Jordan inversion with full pivoting of the n x n row-major block a, in place: at each
// step the largest remaining element (by absolute value) is the pivot, and the row and column
// exchanges are undone at the end so that a holds the inverse. pivotRow and pivotCol hold n ints
// each. False, with "invert is not availble!" printed and a partly overwritten, for a singular
// matrix (or an infinite pivot, which would turn the inverse into NaNs); with quiet true
// nothing is printed. With Fixed > 0 the size is that constant (n is ignored), which lets the
// compiler unroll the loops; the arithmetic is the same.
template <int Fixed = 0, class T>
bool gaussJordanInvert(T* a, int n, int* pivotRow, int* pivotCol, bool quiet = false)
{
    if (Fixed > 0) n = Fixed;
    auto el = [a, n](int i, int j) -> T& { return a[i * n + j]; };
    auto swapRows = [&](int r, int s) {
        for (int j = 0; j < n; ++j) std::swap(el(r, j), el(s, j));
    };
    auto swapCols = [&](int c, int d) {
        for (int i = 0; i < n; ++i) std::swap(el(i, c), el(i, d));
    };
    for (int k = 0; k < n; ++k) {
        T best = T(0);
        pivotRow[k] = k;
        pivotCol[k] = k;
        for (int i = k; i < n; ++i)
            for (int j = k; j < n; ++j) {
                const T v = std::fabs(el(i, j));
                if (v > best) {
                    best = v;
                    pivotRow[k] = i;
                    pivotCol[k] = j;
                }
            }
        if (best == T(0) || !std::isfinite(best)) {
            if (!quiet) std::printf("invert is not availble!\n");
            return false;
        }
        if (pivotRow[k] != k) swapRows(k, pivotRow[k]);
        if (pivotCol[k] != k) swapCols(k, pivotCol[k]);
        el(k, k) = T(1) / el(k, k);
        for (int j = 0; j < n; ++j)
            if (j != k) el(k, j) = el(k, j) * el(k, k);
        for (int i = 0; i < n; ++i) {
            if (i == k) continue;
            for (int j = 0; j < n; ++j)
                if (j != k) el(i, j) = el(i, j) - el(i, k) * el(k, j);
        }
        for (int i = 0; i < n; ++i)
            if (i != k) el(i, k) = -(el(k, k) * el(i, k));
    }
    for (int k = n - 1; k >= 0; --k) {
        if (pivotCol[k] != k) swapRows(k, pivotCol[k]);
        if (pivotRow[k] != k) swapCols(k, pivotRow[k]);
    }
    return true;
}

template <class T>
bool matrix<T>::invert()
{
    if (m_rows != m_cols) return false;
    const int n = m_rows;
    if (n == 0) return true;
    detach();
    int* pivotRow = new (std::nothrow) int[std::size_t(n)];
    int* pivotCol = new (std::nothrow) int[std::size_t(n)];
    if (!pivotRow || !pivotCol) {
        delete[] pivotRow;
        delete[] pivotCol;
        std::printf("out of memory!\n");
        return false;
    }
    const bool ok = gaussJordanInvert(m_data, n, pivotRow, pivotCol);
    delete[] pivotRow;
    delete[] pivotCol;
    return ok;
}

}  // namespace zim
