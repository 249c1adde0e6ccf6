#!/usr/bin/perl
# Prints the entries of an index file in index order as Debian's XBase::Index
# reads them, one "recno<TAB>key" line each; the key of a character index
# comes as its bytes in hex, so that blanks and code page bytes survive.
# usage: xbase_index_dump.pl FILE [TAG] [char|number]
use strict;
use warnings;
use XBase::Index;

my ($file, $tag, $kind) = @ARGV;
my @options = defined $tag && $tag ne '' ? ('tag' => $tag) : ();
my $index = XBase::Index->new($file, @options) or die XBase::Index->errstr;
$index->prepare_select or die $index->errstr;
while (my ($key, $recno) = $index->fetch) {
    if (defined $kind && $kind eq 'char') {
        print $recno, "\t", unpack('H*', $key), "\n";
    } else {
        print $recno, "\t", $key, "\n";
    }
}
