#!/usr/bin/perl
# Prints a table as Perl XBase reads it, in the same normalised form as
# dbfread_dump.py: fields line, then active records, then deleted records.
use strict;
use warnings;
use XBase;

my $table = XBase->new($ARGV[0]) or die XBase->errstr;
my @names = $table->field_names;
my @types = $table->field_types;
my @lengths = $table->field_lengths;
my @decimals = $table->field_decimals;
print "fields ", join(" ", map { "$names[$_]:$types[$_]:$lengths[$_]:$decimals[$_]" } 0 .. $#names), "\n";

sub show {
    my ($value, $i) = @_;
    return "<memo>" if $types[$i] eq 'M';
    return "<none>" unless defined $value;
    my $type = $types[$i];
    if ($type eq 'L') { return $value ? "T" : "F"; }
    if ($type eq 'N' or $type eq 'F') {
        return sprintf("%.*f", $decimals[$i], $value) if $decimals[$i];
        return sprintf("%d", $value);
    }
    if ($type eq 'D') { return $value eq '' ? "<none>" : $value; }
    $value =~ s/\s+$//;
    return $value;
}

my (@active, @deleted);
for my $n (0 .. $table->last_record) {
    my ($is_deleted, @data) = $table->get_record($n);
    my $line = join("|", map { show($data[$_], $_) } 0 .. $#data);
    if ($is_deleted) { push @deleted, "*$line"; } else { push @active, " $line"; }
}
print "$_\n" for @active, @deleted;
