// What a dry run sends its reports to: a simulated board in memory, erased, standing in for the
// real one once the real one's catalogue has been read. The run's own operations go through it
// unchanged, so the reports counted are the ones the real run would exchange (a real board busy
// with an erase answers more status polls).
#pragma once

#include <cstdint>
#include <memory>

#include "board_session.h"
#include "tool_context.h"

class Rehearsal {
  public:
    explicit Rehearsal(const ToolOptions& options);
    ~Rehearsal();
    Rehearsal(const Rehearsal&) = delete;
    Rehearsal& operator=(const Rehearsal&) = delete;

    BoardSession& session() { return *session_; }
    // Output reports written and feature reports fetched so far.
    uint64_t reports() const;

  private:
    class Link;
    std::unique_ptr<Link> link_;
    std::unique_ptr<BoardSession> session_;
};
