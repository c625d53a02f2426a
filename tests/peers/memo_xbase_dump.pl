#!/usr/bin/perl
# Prints the memo texts of a table as Perl XBase reads them, in the form of
# memo_dbfread_dump.py: 'ID|' and the memo's bytes in hex, or '<none>'.
use strict;
use warnings;
use XBase;

my $table = XBase->new($ARGV[0]) or die XBase->errstr;
for my $n (0 .. $table->last_record) {
    my ($deleted, $id, $note) = $table->get_record($n, "ID", "NOTE");
    next if $deleted;
    $id =~ s/\s+$//;
    print "$id|", (defined $note && length $note ? unpack("H*", $note) : "<none>"), "\n";
}
