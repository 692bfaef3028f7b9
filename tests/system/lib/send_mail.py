#!/usr/bin/python3
"""Sends one message by SMTP to the local MTA (127.0.0.1:25) and prints the
queue id from the MTA's reply to the end of DATA (Sendmail's or Postfix's).

Used inside the system-test container, where swaks may be missing but the
Debian python3 is there. Exit status 0 when the message was accepted, 1 when
any step was refused (the refusal is printed on standard error), 2 when the
server could not be reached.

  send_mail.py --from a@b --to c@d [--to e@f] [--helo NAME] [--size N]
               [--subject TEXT] [--to-header TEXT] [--body TEXT]
               [--source ADDRESS]

--to-header replaces the To header ("" leaves it out); --body replaces the
body text; --source connects from that local address (e.g. 127.0.0.2).
"""
import argparse
import email.utils
import re
import smtplib
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--from", dest="sender", required=True)
    parser.add_argument("--to", action="append", required=True)
    parser.add_argument("--helo", default="client.example.test")
    parser.add_argument("--size", type=int, help="announce SIZE=N at MAIL FROM")
    parser.add_argument("--subject", default="system test")
    parser.add_argument("--to-header")
    parser.add_argument("--body", default="A message of the teslo system tests.")
    parser.add_argument("--source")
    args = parser.parse_args()

    to_header = args.to_header
    if to_header is None:
        to_header = ", ".join("<" + r + ">" for r in args.to)
    message = (
        f"From: <{args.sender}>\r\n"
        + (f"To: {to_header}\r\n" if to_header else "")
        + f"Subject: {args.subject}\r\n"
        f"Date: {email.utils.formatdate()}\r\n"
        f"Message-ID: {email.utils.make_msgid(domain='client.example.test')}\r\n"
        "\r\n"
        + "".join(line + "\r\n" for line in args.body.split("\n"))
    )
    options = [f"SIZE={args.size}"] if args.size is not None else []
    try:
        source = (args.source, 0) if args.source else None
        smtp = smtplib.SMTP("127.0.0.1", 25, local_hostname=args.helo, timeout=60,
                            source_address=source)
    except smtplib.SMTPConnectError as error:
        # The server answered, with a refusal in its greeting.
        print(f"refused: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"connect: {error}", file=sys.stderr)
        return 2
    try:
        smtp.ehlo(args.helo)
        code, reply = smtp.mail(args.sender, options)
        if code != 250:
            raise smtplib.SMTPResponseException(code, reply)
        for recipient in args.to:
            code, reply = smtp.rcpt(recipient)
            if code not in (250, 251):
                raise smtplib.SMTPResponseException(code, reply)
        code, reply = smtp.data(message.encode())
        if code != 250:
            raise smtplib.SMTPResponseException(code, reply)
    except smtplib.SMTPException as error:
        print(f"refused: {error}", file=sys.stderr)
        return 1
    finally:
        try:
            smtp.quit()
        except smtplib.SMTPException:
            pass
    # Sendmail: "2.0.0 0BRKc1Ab000123 Message accepted for delivery";
    # Postfix: "2.0.0 Ok: queued as 4QxP2c1Zz".
    text = reply.decode(errors="replace")
    match = re.search(r"(\S+) Message accepted|queued as (\S+)", text)
    print(next(g for g in match.groups() if g) if match else text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
