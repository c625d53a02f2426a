// The commands of the xbdb tool. Each add_*_command registers its CLI11
// subcommand (options, help text with examples) and returns what runs it; main
// runs the one that was given and turns its failure into a message and exit code.
#pragma once

#include <functional>
#include <vector>

#include <CLI/CLI.hpp>

namespace xbdb::cli {

struct Command {
    CLI::App* app;
    std::function<int()> run;  // returns the exit code
};

using Commands = std::vector<Command>;

void add_info_command(CLI::App& app, Commands& out);
void add_dump_command(CLI::App& app, Commands& out);
void add_create_command(CLI::App& app, Commands& out);
void add_import_command(CLI::App& app, Commands& out);
void add_index_commands(CLI::App& app, Commands& out);
void add_check_command(CLI::App& app, Commands& out);
void add_pack_command(CLI::App& app, Commands& out);
void add_demo_command(CLI::App& app, Commands& out);

// The --encoding-errors option's values.
inline const std::vector<std::string> kEncodingErrorChoices{"replace", "strict"};

}  // namespace xbdb::cli
