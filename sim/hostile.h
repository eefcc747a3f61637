// A hostile board for robustness tests: it answers every datagram from a seeded grammar built on
// the right answer (the board model's), with wrong and cut tags, glued and over-long replies,
// binary bytes, control characters, numbers far outside 32 bits, several replies at once or none;
// after a seeded budget of datagrams it falls silent for good, so every run of the tool against it
// ends by itself.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "board_model.h"

namespace sim {

class HostileBoard {
  public:
    explicit HostileBoard(std::uint32_t seed);

    // The hostile answer to one datagram from peer whose right answer is right.
    std::vector<Reply> answer(PeerId peer, std::vector<Reply> right);

    // Datagrams it will still answer.
    int budget() const { return budget_; }

  private:
    std::string pick(const std::vector<std::string>& choices);
    std::size_t below(std::size_t bound);
    std::string any_reply();
    std::string huge_number();
    std::string twist(const std::string& right);

    std::mt19937 engine_;
    int budget_;
};

}  // namespace sim
