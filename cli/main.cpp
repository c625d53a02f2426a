// xbdb: inspect, export, import, index, check and pack xBase files from the shell.
//
// Exit codes: 0 success, 1 a problem was found (a damaged file, a bad value, a
// library error), 2 the command line was wrong.
#include <cstdio>
#include <exception>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "encoding.hpp"

namespace {

using namespace xbdb::cli;

constexpr const char* kFooter = R"TXT(Examples:
  xbdb demo /tmp/xbdb-demo
  xbdb info customers.dbf customers.dbt names.ntx
  xbdb dump customers.dbf --format json --limit 10
  xbdb import customers.dbf new_customers.csv
  xbdb index build customers.dbf names.ntx --expr "UPPER(NAME)"
  xbdb check customers.dbf names.ntx

Run "xbdb COMMAND --help" for the options of a command.)TXT";

int run(int argc, char** argv) {
    CLI::App app{"xbdb: inspect, export, import, index, check and pack xBase files "
                 "(DBF tables, NTX indexes, DBT/FPT memo files)", "xbdb"};
    app.footer(kFooter);
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("xbdb 0.1.0, library ") + DBvers);
    Commands commands;
    add_info_command(app, commands);
    add_dump_command(app, commands);
    add_create_command(app, commands);
    add_import_command(app, commands);
    add_index_commands(app, commands);
    add_check_command(app, commands);
    add_pack_command(app, commands);
    add_demo_command(app, commands);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kSuccess : kUsage;
    }
    for (const Command& c : commands)
        if (c.app->parsed()) return c.run();
    return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        std::fflush(stdout);
        fmt::print(stderr, "xbdb: {}\n", f.what());
        return f.exit_code();
    } catch (const std::exception& e) {
        std::fflush(stdout);
        fmt::print(stderr, "xbdb: {}\n", e.what());
        return kProblemFound;
    }
}
