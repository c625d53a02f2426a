#!/usr/bin/perl
# Writes the memo peer sample with Perl XBase: argv[0] table path, argv[1] the
# table's version byte (0x83 for a dBASE III memo, 0x8B for dBASE IV, 0xF5 for an
# FPT memo); the path must end in lower-case .dbf, which Perl XBase keeps as it
# is (it appends .dbf to any other name). The texts come on stdin, one per line in hex ('-' for no memo).
use strict;
use warnings;
use XBase;

my ($path, $version) = ($ARGV[0], hex $ARGV[1]);
my %memo = $version == 0xF5 ? (memofile => ($path =~ s/\.dbf$/.fpt/ir)) : ();
my $table = XBase->create(
    name => $path, version => $version, %memo,
    field_names => [qw(ID NOTE)], field_types => [qw(C M)],
    field_lengths => [6, 10], field_decimals => [0, 0],
) or die XBase->errstr;
my $n = 0;
while (my $line = <STDIN>) {
    chomp $line;
    next unless length $line;
    my $text = $line eq '-' ? undef : pack("H*", $line);
    $table->set_record($n, $n + 1, $text) or die $table->errstr;
    ++$n;
}
$table->close;
