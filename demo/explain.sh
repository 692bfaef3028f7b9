# Why a sample got its verdict, in one sentence, from what happened to it:
# Sendmail's log of the filter's actions ("Milter (TESLO) add: header: ...",
# "Milter: data, reject=...", ...), the daemon's own log lines, and the spam
# settings the daemon ran with (its lists and the action of each check).
# Sourced by scripts/demo.sh; tests/demo/explain.test.sh checks it.

# explain_setting FILE KEY: the last value given to KEY (keys ignore case).
explain_setting() {
  awk -v key="$2" '$1 !~ /^#/ && tolower($1) == key { value = $2 } END { print value }' "$1"
}
# explain_list FILE KEY: every value given to a list key, one per line.
explain_list() { awk -v key="$2" '$1 !~ /^#/ && tolower($1) == key { print $2 }' "$1"; }

_explain_ipv4() {
  local IFS=. part
  local -a parts
  read -ra parts <<< "$1"
  [ ${#parts[@]} = 4 ] || return 1
  for part in "${parts[@]}"; do [[ "$part" =~ ^[0-9]+$ ]] && ((part < 256)) || return 1; done
  echo $(((parts[0] << 24) + (parts[1] << 16) + (parts[2] << 8) + parts[3]))
}

# explain_in_ip_list FILE KEY ADDRESS: an entry (a.b.c.d or a.b.c.d/bits)
# holds the IPv4 address.
explain_in_ip_list() {
  local entry address network bits mask
  address="$(_explain_ipv4 "$3")" || return 1
  while IFS= read -r entry; do
    bits=32
    [[ "$entry" == */* ]] && bits="${entry#*/}"
    [[ "$bits" =~ ^[0-9]+$ ]] || continue
    ((bits > 32)) && bits=32
    network="$(_explain_ipv4 "${entry%%/*}")" || continue
    mask=$(((0xFFFFFFFF << (32 - bits)) & 0xFFFFFFFF))
    (((address & mask) == (network & mask))) && return 0
  done < <(explain_list "$1" "$2")
  return 1
}

# explain_in_name_list FILE KEY NAME: an entry is the end of the name.
explain_in_name_list() {
  local entry name="${3,,}"
  [ -n "$name" ] || return 1
  while IFS= read -r entry; do
    [ -n "$entry" ] && [[ "$name" == *"${entry,,}" ]] && return 0
  done < <(explain_list "$1" "$2")
  return 1
}

# _explain_first_with ACTION VERDICT: the first finding of explain_verdict
# whose check has this action, as "VERDICT: finding, and check is ACTION";
# fails when there is none.
_explain_first_with() {
  local finding action
  for finding in "${findings[@]}"; do
    action="$(explain_setting "$conf" "${finding%%|*}")"
    if [ "${action,,}" = "$1" ]; then
      echo "$2: ${finding#*|}, and ${finding%%|*} is $1"
      return 0
    fi
  done
  return 1
}

# explain_verdict SETTINGS CLIENT HELO SENDER ACTIONS LOG
# ACTIONS: Sendmail's lines about the filter for this message, without the
# "sm-mta[pid]: QUEUEID: " prefix; LOG: the daemon's lines. Prints one
# sentence "verdict: why", the verdict being one of "refused at connect",
# "refused at MAIL", "refused at RCPT", "refused at end of message",
# "quarantined", "exempt", "marked" or "passed".
explain_verdict() {
  local conf="$1" ip="$2" helo="$3" sender="$4" actions="$5" log="$6"
  local name tag zone
  # The client's host name as the daemon logged it with SPF ("[ip]" when it
  # has none), or as Sendmail named it when refusing at connect.
  name="$(sed -nE 's/.*SPF [a-z]+( \(cached\))?: [^,]*, ([^,]*),.*/\2/p' <<< "$log" | head -n 1)"
  [ -n "$name" ] || name="$(sed -nE 's/^Milter: connect: host=([^,]*),.*/\1/p' <<< "$actions")"
  [[ "$name" == \[* ]] && name=""
  tag="$(explain_setting "$conf" tag)"
  zone="$(explain_setting "$conf" dnsbldou)"

  local logs_nothing="logs nothing"
  [ -n "$log" ] && logs_nothing="logs only the lines above"

  if grep -q '^Milter: connect: .*rejecting commands' <<< "$actions"; then
    local listed="the filter refuses the client"
    if explain_in_ip_list "$conf" blacklistip "$ip"; then
      listed="$ip is on blacklistip"
    elif explain_in_name_list "$conf" blacklistptr "$name"; then
      listed="its host name $name is on blacklistptr"
    fi
    echo "refused at connect: $listed; the filter sets no reply (the refusal text is Sendmail's own) and $logs_nothing"
    return
  fi

  # What the checks found, in the order in which the end of the message acts
  # on them: "setting|finding".
  local findings=()
  grep -q 'malformed HELO: ' <<< "$log" && findings+=("helocheck|the HELO name $helo is malformed")
  grep -qE 'To: and CC: are not filled|undisclosed recipients: ' <<< "$log" &&
    findings+=("tocheck|the To: and Cc: headers name no recipient")
  grep -q ' SPF fail: ' <<< "$log" &&
    findings+=("spf|SPF fails, as ${sender#*@} does not let $ip send its mail")
  grep -q 'harmful attachment: ' <<< "$log" && findings+=("disposition|an attachment has a harmful file name")
  grep -qE 'header: X-QZ-SPAM-DDNS:|quarantine=From DDNS|reject=.*DDNS client' <<< "$actions" &&
    findings+=("ddns|the client's host name ${name:-} looks dynamically assigned")
  grep -q 'DNSBL: ' <<< "$log" && findings+=("dnsblserv|$ip is listed in the blocklist $zone")

  local finding action stage
  if grep -qE '^Milter: [a-z]+(=.*)?, reject=' <<< "$actions"; then
    case "$(grep -m 1 -oE '^Milter: [a-z]+' <<< "$actions")" in
      "Milter: data") stage="end of message" ;;
      "Milter: from") stage="MAIL" ;;
      "Milter: rcpt") stage="RCPT" ;;
      *) stage="$(grep -m 1 -oE '^Milter: [a-z]+' <<< "$actions" | cut -c9-)" ;;
    esac
    _explain_first_with eject "refused at $stage" ||
      echo "refused at $stage: the filter refused it with the reply shown"
    return
  fi

  if grep -q '^milter=TESLO, quarantine=' <<< "$actions"; then
    _explain_first_with quarantine quarantined ||
      echo "quarantined: the filter quarantined it for the reason shown"
    return
  fi

  local exempt=""
  if explain_in_ip_list "$conf" whitelistip "$ip"; then
    exempt="$ip is on whitelistip"
  elif explain_in_name_list "$conf" whitelistptr "$name"; then
    exempt="its host name $name is on whitelistptr"
  else
    local entry
    while IFS= read -r entry; do
      if [ -n "$entry" ] && [[ "${sender,,}" == *"${entry,,}"* ]]; then
        exempt="the sender $sender is on whitelistfrom"
        break
      fi
    done < <(explain_list "$conf" whitelistfrom)
  fi
  if [ -n "$exempt" ]; then
    if [ -n "$log" ]; then
      echo "exempt: $exempt, so nothing is marked or refused; the check lines are still logged"
    else
      echo "exempt: $exempt, so nothing is marked or refused, and nothing was logged"
    fi
    return
  fi

  local marks=() ddns=0 sentence
  for finding in "${findings[@]}"; do
    action="$(explain_setting "$conf" "${finding%%|*}")"
    [ "${action,,}" = header ] || continue
    marks+=("${finding#*|} (${finding%%|*} header)")
    [ "${finding%%|*}" = ddns ] && ddns=1
  done
  if [ ${#marks[@]} -gt 0 ]; then
    sentence="marked: $(printf '%s; ' "${marks[@]}")"
    sentence="${sentence%; }"
    grep -q '^Milter (TESLO) change: header Subject: ' <<< "$actions" &&
      sentence+=", and the subject gets the tag $tag"
    [ "$ddns" = 1 ] && sentence+="; the DDNS check itself logs nothing"
  else
    sentence="passed: no check found anything"
  fi
  local copies
  copies="$(sed -n 's/^Milter (TESLO) add: rcpt: //p' <<< "$actions" | paste -sd ' ' -)"
  [ -n "$copies" ] && sentence+="; a copy rule adds the recipient $copies"
  echo "$sentence"
}
