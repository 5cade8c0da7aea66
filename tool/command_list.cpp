// list: the boards attached.
#include "board_connection.h"
#include "command.h"
#include "commands.h"

Outcome RunList(ToolContext& context) {
    std::vector<BoardListing> listed;
    KELM_TRY(ListBoards(context.options, listed));
    nlohmann::json boards = nlohmann::json::array();
    for (const BoardListing& board : listed) {
        boards.push_back({{"path", board.path},
                          {"serial", board.serial},
                          {"openable", board.openable},
                          {"problem", board.problem}});
        std::string line = board.path + "  serial " +
                           (board.serial.empty() ? std::string("(none)") : board.serial) + "  " +
                           (board.openable ? "ok" : board.problem);
        context.reply.Line(line);
    }
    if (boards.empty()) context.reply.Line("no kelm board attached");
    context.reply.data["boards"] = boards;
    return {};
}

namespace {

class ListCommand : public Command {
  public:
    const char* name() const override { return "list"; }
    const char* summary() const override {
        return "boards attached: path, serial, whether it opens";
    }
    std::vector<Example> examples() const override {
        return {
            {"kelmtool list", "the boards attached and whether each opens"},
            {"kelmtool --json list", "the same as one JSON document"},
        };
    }
    void Declare(CLI::App&) override {}
    Outcome Run(ToolContext& context) override { return RunList(context); }
    bool worksOnABoard() const override { return false; }
};

}  // namespace

std::unique_ptr<Command> MakeListCommand() { return std::make_unique<ListCommand>(); }
