#!/usr/bin/perl
# build-asn-mmdb.pl OUT CSV... — writes an ASN database in MaxMind DB format from CSV rows
# "first address,last address,AS number,organisation" (the @ip-location-db/asn tables).
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;
use Text::ParseWords qw(parse_line);

my ($out, @tables) = @ARGV;
die "usage: build-asn-mmdb.pl OUT CSV...\n" unless $out && @tables;

my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version            => 6,
    record_size           => 28,
    database_type         => 'GeoLite2-ASN',
    languages             => ['en'],
    description           => { en => 'ASN data from @ip-location-db/asn (CC BY 4.0)' },
    map_key_type_callback => sub {
        my $key = shift;
        return $key eq 'autonomous_system_number' ? 'uint32' : 'utf8_string';
    },
    # IPv4 addresses are also found through their IPv4-mapped IPv6 form, as in MaxMind's own files.
    alias_ipv6_to_ipv4    => 1,
    remove_reserved_networks => 0,
);

for my $table (@tables) {
    open my $in, '<:encoding(UTF-8)', $table or die "$table: $!\n";
    while (my $line = <$in>) {
        chomp $line;
        my ($first, $last, $number, $organisation) = parse_line(',', 0, $line);
        next unless defined $organisation && $number =~ /^\d+$/;
        # Ranges inside the IPv6 networks that alias IPv4 (Teredo, 6to4) are answered by IPv4's rows.
        eval {
            $tree->insert_range($first, $last, {
                autonomous_system_number       => $number + 0,
                autonomous_system_organization => $organisation,
            });
            1;
        } or do {
            die $@ unless $@ =~ /aliased network/;
        };
    }
    close $in;
}

open my $fh, '>:raw', $out or die "$out: $!\n";
$tree->write_tree($fh);
close $fh or die "$out: $!\n";
