// The uniform random generator of the Monte Carlo. By default a 32-bit linear
// congruential generator whose whole state is the seed ISEED: all draws of a run come
// from one state, in call order, so a seed reproduces a run exactly. With per-packet
// streams (MCSPEC_STREAMS=1) every packet instead draws from its own stream of the
// counter-based generator Philox4x32-10 (Salmon et al. 2011, Random123): the key is
// (seed, Monte Carlo run) and the counter (draw group, packet index low and high word,
// stream tag), so a packet's draws depend on nothing but these and no two packets,
// runs or seeds share a counter-key pair (Philox is a bijection of the counter for
// each key). Four draws come from each counter value.
#pragma once

#include <Random123/philox.h>

#include <cstdint>

namespace mcspec {

class Rng {
 public:
  explicit Rng(std::int32_t iseed = 0) : state_(static_cast<std::uint32_t>(iseed)) {}

  // The stream of packet `packet` of Monte Carlo run `run` for the seed.
  static Rng packet_stream(std::uint32_t seed, std::uint32_t run, std::uint64_t packet) {
    Rng r;
    r.stream_ = true;
    r.key_ = {{seed, run}};
    r.ctr_ = {{0u, static_cast<std::uint32_t>(packet), static_cast<std::uint32_t>(packet >> 32), kStreamTag}};
    r.used_ = kWords;
    return r;
  }

  // Uniform deviate in [0, 1), single precision with 24 random bits. Sequence:
  // ISEED = ISEED * 69069 + 1 (mod 2^32), u = (ISEED >> 8) * 2^-24 (exact: 24 bits fit
  // a float's mantissa); a stream takes the top 24 bits of its next 32-bit word.
  float uniform() {
    if (!stream_) [[likely]] {
      state_ = state_ * 69069u + 1u;
      return static_cast<float>(state_ >> 8) * 0x1p-24f;
    }
    return static_cast<float>(next_word() >> 8) * 0x1p-24f;
  }
  std::int32_t iseed() const { return static_cast<std::int32_t>(state_); }

  // The next 32-bit word of a stream: the words of Philox4x32-10 of the current counter,
  // then of the next (the draw-group word of the counter advances every four words).
  // Two counters are worked at once, so the refill is a rare branch.
  std::uint32_t next_word() {
    if (used_ == kWords) [[unlikely]] {
      const r123::Philox4x32 philox;
      for (auto& b : buf_) {
        b = philox(ctr_, key_);
        ctr_.v[0] += 1u;
      }
      used_ = 0;
    }
    const unsigned i = used_++;
    return buf_[i / 4].v[i % 4];
  }

  // Counter word 3 of every packet stream: reserves the other values for other uses.
  static constexpr std::uint32_t kStreamTag = 0x4d430001u;

 private:
  static constexpr unsigned kWords = 8;  // words worked ahead
  std::uint32_t state_ = 0;
  bool stream_ = false;
  unsigned used_ = kWords;
  r123::Philox4x32::key_type key_{};
  r123::Philox4x32::ctr_type ctr_{};
  r123::Philox4x32::ctr_type buf_[kWords / 4]{};
};

}  // namespace mcspec
