#!/usr/bin/python3
"""Sends one message by SMTP to the local Sendmail (127.0.0.1:25) and prints
the queue id from Sendmail's reply to the end of DATA.

Used inside the system-test container, where swaks may be missing but the
Debian python3 is there. Exit status 0 when the message was accepted, 1 when
any step was refused (the refusal is printed on standard error), 2 when the
server could not be reached.

  send_mail.py --from a@b --to c@d [--to e@f] [--helo NAME] [--size N]
               [--subject TEXT]
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
    args = parser.parse_args()

    message = (
        f"From: <{args.sender}>\r\n"
        f"To: {', '.join('<' + r + '>' for r in args.to)}\r\n"
        f"Subject: {args.subject}\r\n"
        f"Date: {email.utils.formatdate()}\r\n"
        f"Message-ID: {email.utils.make_msgid(domain='client.example.test')}\r\n"
        "\r\n"
        "A message of the teslo system tests.\r\n"
    )
    options = [f"SIZE={args.size}"] if args.size is not None else []
    try:
        smtp = smtplib.SMTP("127.0.0.1", 25, local_hostname=args.helo, timeout=60)
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
    # "2.0.0 0BRKc1Ab000123 Message accepted for delivery"
    match = re.search(r"(\S+) Message accepted", reply.decode(errors="replace"))
    print(match.group(1) if match else reply.decode(errors="replace"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
