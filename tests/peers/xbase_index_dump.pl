#!/usr/bin/perl
# Prints the keys of an NTX file in index order as Perl XBase::Index reads them,
# one line each: the key, a TAB, the record number. Keys are shown as their bytes
# (characters outside 0x20..0x7E as \xHH); with "N" as second argument as the
# number the peer decodes from a numeric key, printed with six decimals.
use strict;
use warnings;
use XBase::Index;

my ($file, $kind) = @ARGV;
$kind = 'C' unless defined $kind;
my $index = XBase::ntx->new($file, 'type' => $kind)
    or die "cannot open $file: " . XBase::Index->errstr;
$index->prepare_select;
while (my ($key, $recno) = $index->fetch) {
    if ($kind eq 'N') {
        $key = sprintf("%.6f", $key);
    } else {
        $key =~ s/([^\x20-\x7e])/sprintf("\\x%02X", ord $1)/ge;
    }
    print "$key\t$recno\n";
}
my $error = $index->errstr;
die "$error\n" if defined $error and length $error;
