# Turns bench/results/raw.tsv into the summary: medians over the runs for
# every placement, server and size, then the targets, each judged on the
# median over the runs of the ratio measured within one run: per-block
# turnaround where the servers had the CPUs to themselves, the whole flash's
# seconds beside the busy loops (where a block that waits long counts).
function median(list,    n, a) {
    n = split(list, a, " ")
    asort(a)
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function verdict(value, limit) { return value <= limit ? "met" : "NOT met" }
function ratios(placement, a, b, size, column,    run, list, x, y) {
    list = ""
    for (run in runs) {
        x = column == "seconds" ? secs_run[placement SUBSEP run SUBSEP a SUBSEP size] : block_run[placement SUBSEP run SUBSEP a SUBSEP size]
        y = column == "seconds" ? secs_run[placement SUBSEP run SUBSEP b SUBSEP size] : block_run[placement SUBSEP run SUBSEP b SUBSEP size]
        if (x != "" && y > 0) list = list " " x / y
    }
    return list
}
function target(text, list, limit) {
    if (list != "") printf "| %s <= %s | %.2f | %s |\n", text, limit, median(list), verdict(median(list), limit)
}
NR == 1 { next }
{
    key = $1 SUBSEP $3 SUBSEP $4
    keys[key] = 1
    seconds[key] = seconds[key] " " $5; blocks[key] = $6
    med[key] = med[key] " " $7; p99[key] = p99[key] " " $8
    cpu[key] = cpu[key] " " $9; rss[key] = rss[key] " " $10
    block_run[$1 SUBSEP $2 SUBSEP $3 SUBSEP $4] = $7
    secs_run[$1 SUBSEP $2 SUBSEP $3 SUBSEP $4] = $5
    placements[$1] = 1; runs[$2] = 1; sizes[$4] = 1
}
END {
    n = asorti(sizes, sorted, "@ind_num_asc")
    small = sorted[1]; large = sorted[n]
    split("pinned spread busy", order_p, " ")
    title["pinned"] = "All processes on one CPU (pinned)"
    title["spread"] = "Processes placed by the scheduler (spread)"
    title["busy"] = "Beside two busy loops at normal priority (busy)"
    split("program core station floor tftpd-hpa", order, " ")
    name["program"] = "TcpServer (the window)"; name["core"] = "its transfer server alone"
    name["station"] = "tcpserver-station"; name["floor"] = "floor (blocking sockets)"
    name["tftpd-hpa"] = "tftpd-hpa (own client; curl total in CPU column)"
    for (p = 1; p <= 3; p++) {
        placement = order_p[p]
        if (!(placement in placements)) continue
        printf "\n### %s\n\n", title[placement]
        print "| server | image | seconds | blocks | per block, median | per block, 99th pct | throughput | CPU s | peak RSS |"
        print "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"
        for (o = 1; o <= 5; o++) {
            server = order[o]
            for (i = 1; i <= n; i++) {
                key = placement SUBSEP server SUBSEP sorted[i]
                if (!(key in keys)) continue
                s = median(seconds[key])
                cpu_text = server == "tftpd-hpa" ? "curl " median(cpu[key]) " s" : server == "station" ? "-" : sprintf("%.2f", median(cpu[key]))
                rss_text = server == "tftpd-hpa" || server == "station" ? "-" : median(rss[key]) " MiB"
                printf "| %s | %s MiB | %.3f | %d | %.1f us | %.1f us | %.1f MiB/s | %s | %s |\n", name[server], sorted[i], s, blocks[key], median(med[key]), median(p99[key]), (s > 0 ? sorted[i] / s : 0), cpu_text, rss_text
            }
        }
        print ""
        print "| target | measured (median of the runs' ratios) | verdict |"
        print "| --- | --- | --- |"
        if (placement == "busy") {
            for (i = 1; i <= n; i++) {
                target(sorted[i] " MiB: the server alone / the floor, seconds", ratios(placement, "core", "floor", sorted[i], "seconds"), 1.5)
                target(sorted[i] " MiB: the window / the floor, seconds", ratios(placement, "program", "floor", sorted[i], "seconds"), 2.0)
                target(sorted[i] " MiB: the station / the floor, seconds", ratios(placement, "station", "floor", sorted[i], "seconds"), 2.0)
            }
            continue
        }
        flat = ""
        for (run in runs) {
            a = block_run[placement SUBSEP run SUBSEP "program" SUBSEP large]
            b = block_run[placement SUBSEP run SUBSEP "program" SUBSEP small]
            if (a != "" && b > 0) flat = flat " " a / b
        }
        target("flat: per block at " large " MiB / at " small " MiB", flat, 1.2)
        for (i = 1; i <= n; i++) {
            target(sorted[i] " MiB: TcpServer / tftpd-hpa, per block", ratios(placement, "program", "tftpd-hpa", sorted[i], "block"), 1.25)
            target(sorted[i] " MiB: TcpServer / floor, per block", ratios(placement, "program", "floor", sorted[i], "block"), 2.0)
            key = placement SUBSEP "program" SUBSEP sorted[i]
            limit = 2 * sorted[i] + 100
            printf "| %s MiB: peak RSS <= 2 x image + 100 MiB = %d MiB | %s MiB | %s |\n", sorted[i], limit, median(rss[key]), verdict(median(rss[key]), limit)
        }
    }
}
