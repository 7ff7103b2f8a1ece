#!/usr/bin/env perl
# dbfdump.pl TABLE.dbf: every record of a table and its memos, read from the files' bytes alone
# (none of the engine's code), one line per record: the deletion mark ("*" or a blank), then
# each field, separated by "|": character and numeric fields without their blanks, memo fields
# as their text (from TABLE.fpt). Exits 1 with a line on the error output when the files do not
# hold together: fewer bytes than the header's record count asks for, a memo pointer outside
# the memo file or a memo block that is not text.
use strict;
use warnings;

my $name = shift or die "usage: dbfdump.pl TABLE.dbf\n";
sub slurp {
  my ($path) = @_;
  open(my $f, '<:raw', $path) or die "$path: $!\n";
  local $/;
  my $bytes = <$f>;
  close $f;
  return $bytes;
}
sub bad { print STDERR "$name: $_[0]\n"; exit 1; }

my $dbf = slurp($name);
my ($count, $headerLength, $recordLength) = unpack('x4 V v v', $dbf);
my @fields;    # [name, type, length]
for (my $at = 32; $at < $headerLength && substr($dbf, $at, 1) ne "\x0D"; $at += 32) {
  my ($field, $type, $length) = unpack('Z11 a1 x4 C', substr($dbf, $at, 17));
  push @fields, [$field, $type, $length];
}
bad("$count records need more bytes than the file has")
  if $headerLength + $count * $recordLength > length $dbf;

(my $memoName = $name) =~ s/\.dbf$/.fpt/i;
my $fpt = grep({ $_->[1] eq 'M' } @fields) ? slurp($memoName) : '';
my $blockSize = length $fpt >= 8 ? unpack('x6 n', $fpt) : 0;

for my $r (0 .. $count - 1) {
  my $record = substr($dbf, $headerLength + $r * $recordLength, $recordLength);
  my @out = (substr($record, 0, 1) eq '*' ? '*' : ' ');
  my $at = 1;
  for my $f (@fields) {
    my $raw = substr($record, $at, $f->[2]);
    $at += $f->[2];
    if ($f->[1] eq 'M') {
      # A block number: four bytes (little-endian) or up to ten digits in text.
      my $block = $f->[2] == 4 ? unpack('V', $raw) : ($raw =~ /(\d+)/ ? $1 : 0);
      my $text = '';
      if ($block) {
        my $offset = $block * $blockSize;
        bad("record " . ($r + 1) . ": memo block $block outside the memo file")
          if $blockSize == 0 || $offset + 8 > length $fpt;
        my ($type, $length) = unpack('N N', substr($fpt, $offset, 8));
        bad("record " . ($r + 1) . ": memo block $block is not text or runs past the file")
          if $type != 1 || $offset + 8 + $length > length $fpt;
        $text = substr($fpt, $offset + 8, $length);
      }
      push @out, $text;
    } else {
      $raw =~ s/^ +| +$//g;
      push @out, $raw;
    }
  }
  print join('|', @out), "\n";
}
