// 1-based tables. The physics and every file of the program count shells, levels,
// transitions and list positions from 1; these small views keep that convention
// at the call site, so a formula in the code reads like the formula in the physics.
// Storage is one contiguous std::vector, first index fastest (a column of a 2-D
// table, e.g. all lines of one shell, is contiguous).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace mcspec {

#ifdef MCSPEC_BOUNDS_CHECK
[[noreturn]] inline void array_index_error(long i, long n) {
  throw std::out_of_range("table index " + std::to_string(i) + " outside 1.." + std::to_string(n));
}
#define MCSPEC_CHECK_INDEX(i, n) \
  do { if ((i) < 1 || (i) > (n)) ::mcspec::array_index_error((i), (n)); } while (0)
#else
#define MCSPEC_CHECK_INDEX(i, n) ((void)0)
#endif

template <class T>
class Array1 {
 public:
  Array1() = default;
  explicit Array1(int n, T init = T{}) : d_(static_cast<std::size_t>(n), init) {}
  void assign(int n, T init = T{}) { d_.assign(static_cast<std::size_t>(n), init); }
  void fill(T v) { d_.assign(d_.size(), v); }
  T& operator()(int i) { MCSPEC_CHECK_INDEX(i, size()); return d_[static_cast<std::size_t>(i - 1)]; }
  const T& operator()(int i) const { MCSPEC_CHECK_INDEX(i, size()); return d_[static_cast<std::size_t>(i - 1)]; }
  int size() const { return static_cast<int>(d_.size()); }
  T* data() { return d_.data(); }
  const T* data() const { return d_.data(); }
  std::vector<T>& vec() { return d_; }
  const std::vector<T>& vec() const { return d_; }

 private:
  std::vector<T> d_;
};

// (i, j), i fastest: column j is contiguous.
template <class T>
class Array2 {
 public:
  Array2() = default;
  Array2(int n1, int n2, T init = T{}) { assign(n1, n2, init); }
  void assign(int n1, int n2, T init = T{}) {
    n1_ = n1;
    n2_ = n2;
    d_.assign(static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2), init);
  }
  void fill(T v) { d_.assign(d_.size(), v); }
  T& operator()(int i, int j) {
    MCSPEC_CHECK_INDEX(i, n1_); MCSPEC_CHECK_INDEX(j, n2_);
    return d_[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n1_) + static_cast<std::size_t>(i - 1)];
  }
  const T& operator()(int i, int j) const {
    MCSPEC_CHECK_INDEX(i, n1_); MCSPEC_CHECK_INDEX(j, n2_);
    return d_[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n1_) + static_cast<std::size_t>(i - 1)];
  }
  // Pointer to the first element of column j (0-based inside the column).
  T* column(int j) { MCSPEC_CHECK_INDEX(j, n2_); return d_.data() + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n1_); }
  const T* column(int j) const { MCSPEC_CHECK_INDEX(j, n2_); return d_.data() + static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n1_); }
  int rows() const { return n1_; }
  int cols() const { return n2_; }
  std::size_t bytes() const { return d_.size() * sizeof(T); }
  T* data() { return d_.data(); }
  const T* data() const { return d_.data(); }

 private:
  int n1_ = 0, n2_ = 0;
  std::vector<T> d_;
};

// (i, j, k), i fastest.
template <class T>
class Array3 {
 public:
  Array3() = default;
  Array3(int n1, int n2, int n3, T init = T{}) { assign(n1, n2, n3, init); }
  void assign(int n1, int n2, int n3, T init = T{}) {
    n1_ = n1;
    n2_ = n2;
    n3_ = n3;
    d_.assign(static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2) * static_cast<std::size_t>(n3), init);
  }
  void fill(T v) { d_.assign(d_.size(), v); }
  T& operator()(int i, int j, int k) { return d_[index(i, j, k)]; }
  const T& operator()(int i, int j, int k) const { return d_[index(i, j, k)]; }
  int dim1() const { return n1_; }
  int dim2() const { return n2_; }
  int dim3() const { return n3_; }

 private:
  std::size_t index(int i, int j, int k) const {
    MCSPEC_CHECK_INDEX(i, n1_); MCSPEC_CHECK_INDEX(j, n2_); MCSPEC_CHECK_INDEX(k, n3_);
    return (static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(n2_) + static_cast<std::size_t>(j - 1)) *
               static_cast<std::size_t>(n1_) + static_cast<std::size_t>(i - 1);
  }
  int n1_ = 0, n2_ = 0, n3_ = 0;
  std::vector<T> d_;
};

}  // namespace mcspec
