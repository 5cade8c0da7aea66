// Completion scripts for bash, zsh and fish, written from what the CLI11 application holds.
#include "completions.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr char kBash[] = "bash";
constexpr char kZsh[] = "zsh";
constexpr char kFish[] = "fish";
// The names of arguments whose values are files, and the one whose value is a command.
constexpr char kFileName[] = "FILE";
constexpr char kCommandName[] = "COMMAND";

// What the scripts need of an option or a positional argument.
struct Argument {
    std::vector<std::string> names;  // "-q", "--quiet"; empty for a positional
    std::string help;
    bool value = false;     // takes one after it
    bool files = false;     // the value is a file
    bool commands = false;  // the value is a command's name
    bool many = false;      // a positional that takes every word left
    std::vector<std::string> choices;
};

struct CommandShape {
    std::string name;
    std::string help;
    std::vector<Argument> options;
    std::vector<Argument> positionals;
};

// "TEXT:{gcb,dol,elf,vgc}", as CLI11 names a value checked by IsMember: the set.
std::vector<std::string> ChoicesOf(const std::string& typeName) {
    std::vector<std::string> choices;
    const size_t open = typeName.find('{');
    const size_t close = typeName.find('}', open);
    if (open == std::string::npos || close == std::string::npos) return choices;
    std::string item;
    for (size_t i = open + 1; i < close; ++i) {
        if (typeName[i] == ',') {
            choices.push_back(item);
            item.clear();
        } else {
            item += typeName[i];
        }
    }
    if (!item.empty()) choices.push_back(item);
    return choices;
}

Argument Describe(const CLI::Option& option) {
    Argument argument;
    for (const std::string& name : option.get_snames()) argument.names.push_back("-" + name);
    for (const std::string& name : option.get_lnames()) argument.names.push_back("--" + name);
    argument.help = option.get_description();
    // An option whose value may be left out (--wait) is completed as a flag.
    argument.value = option.get_type_size() > 0 && option.get_expected_min() > 0;
    const std::string typeName = option.get_type_name();
    argument.files = typeName == kFileName || option.get_name() == kFileName;
    argument.commands = option.get_name() == kCommandName;
    argument.many = option.get_expected_max() > 1;
    argument.choices = ChoicesOf(typeName);
    return argument;
}

void Gather(const CLI::App& app, std::vector<Argument>& options,
            std::vector<Argument>& positionals) {
    for (const CLI::Option* option : app.get_options()) {
        // A hidden option is kept for old scripts, not offered.
        if (option->get_group().empty()) continue;
        if (option->get_positional()) {
            positionals.push_back(Describe(*option));
        } else {
            options.push_back(Describe(*option));
        }
    }
}

struct Shape {
    std::vector<Argument> global;
    std::vector<CommandShape> commands;
    std::vector<std::string> names;  // of the commands
};

Shape ShapeOf(const CLI::App& app) {
    Shape shape;
    std::vector<Argument> none;
    Gather(app, shape.global, none);
    for (const CLI::App* command : app.get_subcommands({})) {
        CommandShape entry;
        entry.name = command->get_name();
        entry.help = command->get_description();
        Gather(*command, entry.options, entry.positionals);
        // Every command has its own --help, the application's in the global list.
        entry.options.erase(std::remove_if(entry.options.begin(), entry.options.end(),
                                           [](const Argument& option) {
                                               return std::find(option.names.begin(),
                                                                option.names.end(),
                                                                "--help") != option.names.end();
                                           }),
                            entry.options.end());
        shape.names.push_back(entry.name);
        shape.commands.push_back(entry);
    }
    return shape;
}

std::string Joined(const std::vector<std::string>& words, const std::string& between) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : between) + word;
    return text;
}

// text inside single quotes of a POSIX shell, zsh or fish: ' ends them in all three.
std::string Quoted(const std::string& text, bool fish) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += fish ? "\\'" : "'\\''";
        } else if (c == '\\' && fish) {
            quoted += "\\\\";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// All option names that take a value, or only those whose values are files, or neither.
enum class Valued { Any, Files, Other };
std::vector<std::string> ValuedNames(const Shape& shape, Valued which) {
    std::vector<std::string> names;
    auto add = [&](const std::vector<Argument>& options) {
        for (const Argument& option : options) {
            if (!option.value) continue;
            if (which != Valued::Any && !option.choices.empty()) continue;
            if (which == Valued::Files && !option.files) continue;
            if (which == Valued::Other && option.files) continue;
            for (const std::string& name : option.names) {
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
            }
        }
    };
    add(shape.global);
    for (const CommandShape& command : shape.commands) add(command.options);
    return names;
}

std::vector<std::string> OptionNames(const std::vector<Argument>& options) {
    std::vector<std::string> names;
    for (const Argument& option : options) {
        names.insert(names.end(), option.names.begin(), option.names.end());
    }
    return names;
}

std::string BashScript(const Shape& shape) {
    std::string script =
        "# bash completion for kelmtool, made by `kelmtool completion bash`.\n"
        "_kelmtool() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
        "    local command='' i\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        case ${COMP_WORDS[i]} in\n"
        "            " +
        Joined(ValuedNames(shape, Valued::Any), "|") +
        ") ((i++)) ;;\n"
        "            -*) ;;\n"
        "            *) command=${COMP_WORDS[i]}; break ;;\n"
        "        esac\n"
        "    done\n"
        "    case $prev in\n";
    std::vector<std::string> done;
    auto choiceCases = [&](const std::vector<Argument>& options) {
        for (const Argument& option : options) {
            if (!option.value || option.choices.empty()) continue;
            for (const std::string& name : option.names) {
                if (std::find(done.begin(), done.end(), name) != done.end()) continue;
                done.push_back(name);
                script += "        " + name + ") mapfile -t COMPREPLY < <(compgen -W " +
                          Quoted(Joined(option.choices, " "), false) + " -- \"$cur\"); return ;;\n";
            }
        }
    };
    choiceCases(shape.global);
    for (const CommandShape& command : shape.commands) choiceCases(command.options);
    const std::vector<std::string> files = ValuedNames(shape, Valued::Files);
    if (!files.empty()) {
        script += "        " + Joined(files, "|") +
                  ") mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n";
    }
    const std::vector<std::string> other = ValuedNames(shape, Valued::Other);
    if (!other.empty()) script += "        " + Joined(other, "|") + ") return ;;\n";
    script +=
        "    esac\n"
        "    local options=" +
        Quoted(Joined(OptionNames(shape.global), " "), false) +
        " words=" + Quoted(Joined(shape.names, " "), false) +
        " files=0\n"
        "    case $command in\n"
        "        '') ;;\n";
    for (const CommandShape& command : shape.commands) {
        script += "        " + command.name + ")";
        if (!command.options.empty())
            script +=
                " options+=" + Quoted(" " + Joined(OptionNames(command.options), " "), false) + ";";
        std::string words;
        bool files = false;
        for (const Argument& positional : command.positionals) {
            if (positional.files) files = true;
            if (positional.commands) words = Joined(shape.names, " ");
            if (!positional.choices.empty()) words = Joined(positional.choices, " ");
        }
        script += " words=" + Quoted(words, false) + ";";
        if (files) script += " files=1;";
        script += " ;;\n";
    }
    script +=
        "    esac\n"
        "    if [[ $cur == -* ]]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
        "    elif [[ $files == 1 ]]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
        "    else\n"
        "        mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$cur\")\n"
        "    fi\n"
        "}\n"
        "complete -o filenames -F _kelmtool kelmtool\n";
    return script;
}

// zsh's _arguments takes "[" "]" and ":" as its own within an option's description.
std::string ZshText(const std::string& text) {
    std::string plain;
    for (char c : text) {
        if (c == '[') {
            plain += '(';
        } else if (c == ']') {
            plain += ')';
        } else if (c == ':') {
            plain += "\\:";
        } else {
            plain += c;
        }
    }
    return plain;
}

std::string ZshAction(const Argument& argument, const std::vector<std::string>& commands) {
    if (argument.files) return "_files";
    if (argument.commands) return "(" + Joined(commands, " ") + ")";
    if (!argument.choices.empty()) return "(" + Joined(argument.choices, " ") + ")";
    return " ";
}

std::string ZshSpecs(const std::vector<Argument>& options, const std::vector<Argument>& positionals,
                     const std::vector<std::string>& commands) {
    std::string specs;
    for (const Argument& option : options) {
        for (const std::string& name : option.names) {
            std::string spec = name + "[" + ZshText(option.help) + "]";
            if (option.value)
                spec += ":" + ZshText(option.help) + ":" + ZshAction(option, commands);
            specs += " \\\n        " + Quoted(spec, false);
        }
    }
    for (const Argument& positional : positionals) {
        const std::string spec = std::string(positional.many ? "*" : "") + ":" +
                                 ZshText(positional.help) + ":" + ZshAction(positional, commands);
        specs += " \\\n        " + Quoted(spec, false);
    }
    return specs;
}

std::string ZshScript(const Shape& shape) {
    std::string script =
        "#compdef kelmtool\n"
        "# zsh completion for kelmtool, made by `kelmtool completion zsh`.\n"
        "_kelmtool() {\n"
        "    local curcontext=$curcontext state line\n"
        "    local -a commands\n"
        "    commands=(";
    for (const CommandShape& command : shape.commands) {
        script += " \\\n        " + Quoted(command.name + ":" + command.help, false);
    }
    const std::string global = ZshSpecs(shape.global, {}, shape.names);
    script +=
        "\n    )\n"
        "    _arguments -C" +
        global +
        " \\\n        ': :->command' '*:: :->argument' && return\n"
        "    case $state in\n"
        "        command) _describe -t commands 'kelmtool command' commands ;;\n"
        "        argument)\n"
        "            case $line[1] in\n";
    for (const CommandShape& command : shape.commands) {
        script += "                " + command.name + ") _arguments" + global +
                  ZshSpecs(command.options, command.positionals, shape.names) + " ;;\n";
    }
    script +=
        "            esac ;;\n"
        "    esac\n"
        "}\n"
        "_kelmtool \"$@\"\n";
    return script;
}

std::string FishOption(const Argument& option, const std::string& condition,
                       const std::vector<std::string>& commands) {
    std::string line = "complete -c kelmtool" + condition;
    for (const std::string& name : option.names) {
        line += (name.rfind("--", 0) == 0 ? " -l " + name.substr(2) : " -s " + name.substr(1));
    }
    if (option.value) {
        if (option.files) {
            line += " -r -F";
        } else if (!option.choices.empty()) {
            line += " -x -a " + Quoted(Joined(option.choices, " "), true);
        } else if (option.commands) {
            line += " -x -a " + Quoted(Joined(commands, " "), true);
        } else {
            line += " -x";
        }
    }
    return line + " -d " + Quoted(option.help, true) + "\n";
}

std::string FishScript(const Shape& shape) {
    std::string script =
        "# fish completion for kelmtool, made by `kelmtool completion fish`.\n"
        "complete -c kelmtool -f\n";
    // Before any command's name, whatever the words before it (option values among them).
    const std::string none =
        Quoted("not __fish_seen_subcommand_from " + Joined(shape.names, " "), true);
    for (const CommandShape& command : shape.commands) {
        script += "complete -c kelmtool -n " + none + " -a " + command.name + " -d " +
                  Quoted(command.help, true) + "\n";
    }
    for (const Argument& option : shape.global) script += FishOption(option, "", shape.names);
    for (const CommandShape& command : shape.commands) {
        const std::string condition =
            " -n " + Quoted("__fish_seen_subcommand_from " + command.name, true);
        for (const Argument& option : command.options)
            script += FishOption(option, condition, shape.names);
        for (const Argument& positional : command.positionals) {
            if (positional.files) {
                script += "complete -c kelmtool" + condition + " -F\n";
            } else if (positional.commands) {
                script += "complete -c kelmtool" + condition + " -x -a " +
                          Quoted(Joined(shape.names, " "), true) + "\n";
            } else if (!positional.choices.empty()) {
                script += "complete -c kelmtool" + condition + " -x -a " +
                          Quoted(Joined(positional.choices, " "), true) + "\n";
            }
        }
    }
    return script;
}

}  // namespace

const std::vector<std::string>& CompletionShells() {
    static const std::vector<std::string> shells = {kBash, kZsh, kFish};
    return shells;
}

std::string CompletionScript(const CLI::App& app, const std::string& shell) {
    const Shape shape = ShapeOf(app);
    if (shell == kZsh) return ZshScript(shape);
    if (shell == kFish) return FishScript(shape);
    return BashScript(shape);
}
