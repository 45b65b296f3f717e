#include "render/geo/equal_area.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "common/clones.h"

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfPi = kPi / 2;
constexpr double kRad = kPi / 180;
// WGS 84.
constexpr double kA = 6378137;
constexpr double kF = 1 / 298.257223563;
constexpr double kEs = 2 * kF - kF * kF;  // eccentricity squared
constexpr double kOneEs = 1 - kEs;
constexpr double kEps10 = 1e-10;

// c[0] + c[1] z + ... + c[11] z^11, the terms paired (Estrin's scheme) for
// a short chain of operations. T: a double, or a vector of them, by the
// same operations in the same order, so both give the same bits.
template <class T>
__attribute__((always_inline)) inline T series(T z, const double (&c)[12]) {
  static_assert(!std::is_integral_v<T>, "an integer would be computed in integers");
  const T z2 = z * z, z4 = z2 * z2;
  return (c[0] + z * c[1]) + z2 * (c[2] + z * c[3]) +
         z4 * ((c[4] + z * c[5]) + z2 * (c[6] + z * c[7])) +
         z4 * z4 * ((c[8] + z * c[9]) + z2 * (c[10] + z * c[11]));
}

// atanh(x) / x in x^2: 1 / (2k + 1) (with e s below 0.082, ten terms reach
// double precision); sin(x) / x and cos(x) in x^2 for |x| <= pi/2, to x^21
// and x^22 (the rest below a thousandth of the last bit).
constexpr double kAtanh[12] = {1, 1.0 / 3, 1.0 / 5, 1.0 / 7, 1.0 / 9, 1.0 / 11,
                               1.0 / 13, 1.0 / 15, 1.0 / 17, 1.0 / 19, 0, 0};
constexpr double kSin[12] = {1, -1.0 / 6, 1.0 / 120, -1.0 / 5040, 1.0 / 362880,
                             -1.0 / 39916800, 1.0 / 6227020800, -1.0 / 1307674368000,
                             1.0 / 355687428096000, -1.0 / 121645100408832000,
                             1.0 / 51090942171709440000.0, 0};
constexpr double kCos[12] = {1, -1.0 / 2, 1.0 / 24, -1.0 / 720, 1.0 / 40320,
                             -1.0 / 3628800, 1.0 / 479001600, -1.0 / 87178291200,
                             1.0 / 20922789888000, -1.0 / 6402373705728000,
                             1.0 / 2432902008176640000, -1.0 / 1124000727777607680000.0};

// q of the authalic latitude for sin(phi): (1 - e^2) (s / (1 - e^2 s^2) +
// atanh(e s) / e), the inverse hyperbolic tangent by its series (which
// costs less than the logarithm it stands for).
template <class T>
__attribute__((always_inline)) inline T qsfn(T sinphi) {
  const T y = kEs * sinphi * sinphi;
  return kOneEs * sinphi * (1 / (1 - y) + series(y, kAtanh));
}

// Sine and cosine of x for |x| <= pi/2 by their series, without the range
// reduction a library call must do first.
template <class T>
__attribute__((always_inline)) inline T sinSmall(T x) {
  return x * series(x * x, kSin);
}
template <class T>
__attribute__((always_inline)) inline T cosSmall(T x) {
  return series(x * x, kCos);
}

inline double msfn(double sinphi, double cosphi) {
  return cosphi / std::sqrt(1 - kEs * sinphi * sinphi);
}

// A longitude in radians taken into [-pi, pi] (a little beyond is left, so
// the antimeridian keeps its side).
inline double adjustLon(double lon) {
  if (std::fabs(lon) < kPi + 1e-12) return lon;
  lon += kPi;
  lon -= 2 * kPi * std::floor(lon / (2 * kPi));
  return lon - kPi;
}

// Sine and cosine of x for |x| <= pi, from those of its half.
template <class T>
__attribute__((always_inline)) inline void sinCos(T x, T* s, T* c) {
  const T h = 0.5 * x, sh = sinSmall(h), ch = cosSmall(h);
  *s = 2 * sh * ch;
  *c = 1 - 2 * sh * sh;
}

// The number after "+key=" in a PROJ string; false when it is not there.
bool param(std::string_view s, std::string_view key, double* v) {
  const std::string text = projParam(s, key);
  char* end = nullptr;
  *v = std::strtod(text.c_str(), &end);
  return end && *end == 0 && !text.empty() && std::isfinite(*v);
}

}  // namespace

std::string projParam(std::string_view projString, std::string_view key) {
  const std::string k = "+" + std::string(key) + "=";
  size_t p = projString.find(k);
  if (p == std::string_view::npos) return "";
  p += k.size();
  const size_t e = projString.find(' ', p);
  return std::string(projString.substr(p, e == std::string_view::npos ? e : e - p));
}

std::optional<EqualArea> EqualArea::fromProjString(std::string_view params) {
  EqualArea p;
  double lat0 = 0, lat1 = 0, lat2 = 0;
  // Only the parameters this program writes: anything else is PROJ's.
  size_t known = 0;
  auto has = [&](std::string_view key, double* v) {
    if (!param(params, key, v)) return false;
    ++known;
    return true;
  };
  if (params.rfind("+proj=aea ", 0) == 0) {
    p.kind_ = Kind::Aea;
    if (!has("lat_1", &lat1) || !has("lat_2", &lat2) || !has("lat_0", &lat0)) return std::nullopt;
  } else if (params.rfind("+proj=laea ", 0) == 0) {
    p.kind_ = Kind::Laea;
    if (!has("lat_0", &lat0)) return std::nullopt;
  } else if (params.rfind("+proj=eqearth ", 0) == 0) {
    p.kind_ = Kind::Eqearth;
  } else {
    return std::nullopt;
  }
  if (!has("lon_0", &p.lon0Deg_)) return std::nullopt;
  size_t words = 0;
  for (size_t i = 0; i < params.size(); ++i)
    if (params[i] == '+') ++words;
  if (words != known + 1 || !p.setUp(lat0, lat1, lat2)) return std::nullopt;
  return p;
}

bool EqualArea::setUp(double lat0, double lat1, double lat2) {
  if (std::fabs(lat0) > 90 || std::fabs(lat1) > 90 || std::fabs(lat2) > 90) return false;
  lon0_ = lon0Deg_ * kRad;
  const double phi0 = lat0 * kRad, phi1 = lat1 * kRad, phi2 = lat2 * kRad;
  switch (kind_) {
    case Kind::Aea: {
      if (std::fabs(phi1 + phi2) < kEps10) return false;
      double sinphi = std::sin(phi1), cosphi = std::cos(phi1);
      n_ = sinphi;
      const double m1 = msfn(sinphi, cosphi);
      const double ml1 = qsfn(sinphi);
      if (std::fabs(phi1 - phi2) >= kEps10) {
        sinphi = std::sin(phi2);
        cosphi = std::cos(phi2);
        const double m2 = msfn(sinphi, cosphi);
        const double ml2 = qsfn(sinphi);
        if (ml2 == ml1) return false;
        n_ = (m1 * m1 - m2 * m2) / (ml2 - ml1);
        if (n_ == 0) return false;
      }
      c_ = m1 * m1 + n_ * ml1;
      dd_ = 1 / n_;
      rho0_ = dd_ * std::sqrt(c_ - n_ * qsfn(std::sin(phi0)));
      return true;
    }
    case Kind::Laea: {
      const double t = std::fabs(phi0);
      if (std::fabs(t - kHalfPi) < kEps10)
        aspect_ = phi0 < 0 ? Aspect::SouthPole : Aspect::NorthPole;
      else if (std::fabs(t) < kEps10)
        aspect_ = Aspect::Equator;
      else
        aspect_ = Aspect::Oblique;
      qp_ = qsfn(1.0);
      const double rq = std::sqrt(.5 * qp_);
      if (aspect_ == Aspect::Equator) {
        xmf_ = 1;
        ymf_ = .5 * qp_;
      } else if (aspect_ == Aspect::Oblique) {
        const double sinphi = std::sin(phi0);
        sinb1_ = qsfn(sinphi) / qp_;
        cosb1_ = std::sqrt(1 - sinb1_ * sinb1_);
        const double dd = std::cos(phi0) / (std::sqrt(1 - kEs * sinphi * sinphi) * rq * cosb1_);
        xmf_ = rq * dd;
        ymf_ = rq / dd;
      }
      return true;
    }
    case Kind::Eqearth:
      qp_ = qsfn(1.0);
      rqda_ = std::sqrt(.5 * qp_);
      return true;
  }
  return false;
}

// The body of forward for one kind, inlined where the kind is known, so a
// batch of points pays neither a call nor the choice of kind per point.
__attribute__((always_inline)) inline Point EqualArea::project(Kind kind, double lonDeg,
                                                               double latDeg) const {
  constexpr Point kNone{HUGE_VAL, HUGE_VAL};
  double phi = latDeg * kRad;
  if (!(std::fabs(phi) <= kHalfPi + 1e-12)) return kNone;
  if (phi > kHalfPi) phi = kHalfPi;
  if (phi < -kHalfPi) phi = -kHalfPi;
  const double lam = adjustLon(lonDeg * kRad - lon0_);
  double x = 0, y = 0;
  switch (kind) {
    case Kind::Aea: {
      double rho = c_ - n_ * qsfn(sinSmall(phi));
      if (rho < 0) return kNone;
      rho = dd_ * std::sqrt(rho);
      double sina, cosa;
      sinCos(lam * n_, &sina, &cosa);
      x = rho * sina;
      y = rho0_ - rho * cosa;
      break;
    }
    case Kind::Laea: {
      double sinlam, coslam;
      sinCos(lam, &sinlam, &coslam);
      double q = qsfn(sinSmall(phi));
      double sinb = 0, cosb = 0, b = 0;
      if (aspect_ == Aspect::Oblique || aspect_ == Aspect::Equator) {
        sinb = q / qp_;
        const double cosb2 = 1 - sinb * sinb;
        cosb = cosb2 > 0 ? std::sqrt(cosb2) : 0;
      }
      switch (aspect_) {
        case Aspect::Oblique: b = 1 + sinb1_ * sinb + cosb1_ * cosb * coslam; break;
        case Aspect::Equator: b = 1 + cosb * coslam; break;
        case Aspect::NorthPole: b = kHalfPi + phi; q = qp_ - q; break;
        case Aspect::SouthPole: b = phi - kHalfPi; q = qp_ + q; break;
      }
      if (std::fabs(b) < kEps10) return kNone;
      switch (aspect_) {
        case Aspect::Oblique:
          b = std::sqrt(2 / b);
          y = ymf_ * b * (cosb1_ * sinb - sinb1_ * cosb * coslam);
          x = xmf_ * b * cosb * sinlam;
          break;
        case Aspect::Equator:
          b = std::sqrt(2 / (1 + cosb * coslam));
          y = b * sinb * ymf_;
          x = xmf_ * b * cosb * sinlam;
          break;
        case Aspect::NorthPole:
        case Aspect::SouthPole:
          if (q >= 1e-15) {
            b = std::sqrt(q);
            x = b * sinlam;
            y = coslam * (aspect_ == Aspect::SouthPole ? b : -b);
          }
          break;
      }
      break;
    }
    case Kind::Eqearth: {
      constexpr double A1 = 1.340264, A2 = -0.081106, A3 = 0.000893, A4 = 0.003796;
      const double M = std::sqrt(3.0) / 2;
      double sbeta = qsfn(sinSmall(phi)) / qp_;
      if (std::fabs(sbeta) > 1) sbeta = sbeta > 0 ? 1 : -1;
      const double psi = std::asin(M * sbeta);
      const double psi2 = psi * psi, psi6 = psi2 * psi2 * psi2;
      x = lam * std::cos(psi) / (M * (A1 + 3 * A2 * psi2 + psi6 * (7 * A3 + 9 * A4 * psi2)));
      y = psi * (A1 + A2 * psi2 + psi6 * (A3 + A4 * psi2));
      x *= rqda_;
      y *= rqda_;
      break;
    }
  }
  return {kA * x, kA * y};
}

Point EqualArea::forward(double lonDeg, double latDeg) const {
  return project(kind_, lonDeg, latDeg);
}

// Albers for four points at once: the checks one by one, the series on a
// vector of four doubles, giving what project() gives for each (the same
// operations in the same order, never fused).
__attribute__((always_inline)) inline void EqualArea::albersFour(Point* p) const {
  constexpr int N = 4;
  using Vec = double __attribute__((vector_size(8 * N)));
  constexpr Point kNone{HUGE_VAL, HUGE_VAL};
  Vec phi, lam;
  bool ok[N];
  for (int k = 0; k < N; ++k) {
    double f = p[k].y * kRad;
    ok[k] = std::fabs(f) <= kHalfPi + 1e-12;
    if (f > kHalfPi) f = kHalfPi;
    if (f < -kHalfPi) f = -kHalfPi;
    phi[k] = f;
    lam[k] = adjustLon(p[k].x * kRad - lon0_);
  }
  const Vec rho2 = c_ - n_ * qsfn(sinSmall(phi));
  Vec root;
  for (int k = 0; k < N; ++k) root[k] = std::sqrt(std::max(rho2[k], 0.0));
  const Vec rho = dd_ * root;
  Vec sina, cosa;
  sinCos(lam * n_, &sina, &cosa);
  const Vec x = rho * sina, y = rho0_ - rho * cosa;
  for (int k = 0; k < N; ++k)
    p[k] = ok[k] && !(rho2[k] < 0) ? Point{kA * x[k], kA * y[k]} : kNone;
}

// The points four at a time: on x86 one AVX2 instruction for each
// operation where the machine has it, else two SSE2 ones (no FMA either
// way, so the same bits); elsewhere the machine's own vector code.
QV_AVX2_CLONES void EqualArea::albersFours(Point* pts, size_t n) const {
  for (size_t i = 0; i + 4 <= n; i += 4) albersFour(pts + i);
}

void EqualArea::forward(Point* pts, size_t n) const {
  switch (kind_) {
    case Kind::Aea:
      albersFours(pts, n);
      for (size_t i = n / 4 * 4; i < n; ++i) pts[i] = project(Kind::Aea, pts[i].x, pts[i].y);
      break;
    case Kind::Laea:
      for (size_t i = 0; i < n; ++i) pts[i] = project(Kind::Laea, pts[i].x, pts[i].y);
      break;
    case Kind::Eqearth:
      for (size_t i = 0; i < n; ++i) pts[i] = project(Kind::Eqearth, pts[i].x, pts[i].y);
      break;
  }
}

}  // namespace qv::render
