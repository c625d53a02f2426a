#!/usr/bin/perl
# Writes the peer sample table with Perl XBase, with a 300-character C field
# (length kept in the decimals byte, as Clipper does).
use strict;
use warnings;
use XBase;

my $table = XBase->create(
    name => $ARGV[0],
    field_names => [qw(NAME QTY PRICE SOLD PAID NOTE)],
    field_types => [qw(C N N D L C)],
    field_lengths => [20, 5, 9, 8, 1, 300],
    field_decimals => [0, 0, 2, 0, 0, 0],
) or die XBase->errstr;
$table->set_record(0, "Alice", 3, 12.5, "20240131", 1, "x" x 299 . "y") or die $table->errstr;
$table->set_record(1, "Bob", 0, 0, "20000229", 0, "short") or die $table->errstr;
$table->set_record(2, "Carol x", 120, -7.25, "19991231", undef, "") or die $table->errstr;
$table->delete_record(1) or die $table->errstr;
$table->close;
