// Running the peer programs of the interoperability tests (python3-dbfread,
// python3-dbf, Perl XBase): their scripts live in tests/peers, and each prints
// what it read in a normalised form that a test compares.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace xbdb::test {

inline const std::string kPeers = XBDB_PEERS_DIR;
// Debian's Python, which has the peers' modules (another python3 may come first on
// the PATH).
inline const std::string kPython = "/usr/bin/python3";

// Standard output and error of command; a failing exit status is appended.
inline std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        if (pclose(pipe) != 0) out += "\n<exit status non-zero>";
    }
    return out;
}

inline bool have(const std::string& probe) {
    return std::system((probe + " >/dev/null 2>&1").c_str()) == 0;
}
inline bool have_dbfread() { return have(kPython + " -c 'import dbfread'"); }
inline bool have_python_dbf() { return have(kPython + " -c 'import dbf'"); }
inline bool have_perl_xbase() { return have("perl -MXBase -e 1"); }
inline bool have_perl_xbase_index() { return have("perl -MXBase::Index -e 1"); }

}  // namespace xbdb::test
