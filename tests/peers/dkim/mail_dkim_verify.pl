#!/usr/bin/perl
# mail_dkim_verify.pl DNSPORT FILE... : checks the first DKIM-Signature of each message with Perl's
# Mail::DKIM (the library SpamAssassin uses), keys asked of the DNS server on 127.0.0.1:DNSPORT.
# Prints "FILE RESULT DETAIL" per message ("pass", or e.g. "fail (message has been altered)").
# Lines a receiving server put before the signature (smtp-sink's dump lines) are dropped.
use strict;
use warnings;
use Mail::DKIM::Verifier;
use Net::DNS;
my ($port, @files) = @ARGV;
Mail::DKIM::DNS::resolver(
    Net::DNS::Resolver->new(nameservers => ['127.0.0.1'], port => $port, recurse => 1));
for my $file (@files) {
    open(my $fh, '<:raw', $file) or die "$file: $!";
    local $/;
    my $msg = <$fh>;
    close $fh;
    $msg =~ s/\A.*?(?=^DKIM-Signature:)//ms;
    $msg =~ s/\r?\n/\r\n/g;
    my $dkim = Mail::DKIM::Verifier->new();
    $dkim->PRINT($msg);
    $dkim->CLOSE;
    print $file, " ", $dkim->result, " ", ($dkim->result_detail // ""), "\n";
}
