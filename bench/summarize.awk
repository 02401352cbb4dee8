# Turns bench/results/raw.tsv into the summary: medians over the runs for
# every placement, server and size, then the targets, each judged on the
# median over the runs of the ratio measured within one run.
function median(list,    n, a) {
    n = split(list, a, " ")
    asort(a)
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function verdict(value, limit) { return value <= limit ? "met" : "NOT met" }
NR == 1 { next }
{
    key = $1 SUBSEP $3 SUBSEP $4
    keys[key] = 1
    seconds[key] = seconds[key] " " $5; blocks[key] = $6
    med[key] = med[key] " " $7; p99[key] = p99[key] " " $8
    cpu[key] = cpu[key] " " $9; rss[key] = rss[key] " " $10
    per_run[$1 SUBSEP $2 SUBSEP $3 SUBSEP $4] = $7
    placements[$1] = 1; runs[$2] = 1; sizes[$4] = 1; servers[$3] = 1
}
END {
    n = asorti(sizes, sorted, "@ind_num_asc")
    small = sorted[1]; large = sorted[n]
    for (placement in placements) {
        printf "\n### %s\n\n", placement == "pinned" ? "All processes on one CPU (pinned)" : "Processes placed by the scheduler (spread)"
        print "| server | image | seconds | blocks | per block, median | per block, 99th pct | throughput | CPU s | peak RSS |"
        print "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"
        split("program floor tftpd-hpa", order, " ")
        for (o = 1; o <= 3; o++) {
            server = order[o]
            for (i = 1; i <= n; i++) {
                key = placement SUBSEP server SUBSEP sorted[i]
                if (!(key in keys)) continue
                s = median(seconds[key])
                name = server == "program" ? "TcpServer" : server == "floor" ? "floor (blocking sockets)" : "tftpd-hpa (own client; curl total in CPU column)"
                cpu_text = server == "tftpd-hpa" ? "curl " median(cpu[key]) " s" : sprintf("%.2f", median(cpu[key]))
                rss_text = server == "tftpd-hpa" ? "-" : median(rss[key]) " MiB"
                printf "| %s | %s MiB | %.3f | %d | %.1f us | %.1f us | %.1f MiB/s | %s | %s |\n", name, sorted[i], s, blocks[key], median(med[key]), median(p99[key]), (s > 0 ? sorted[i] / s : 0), cpu_text, rss_text
            }
        }
        print ""
        print "| target | measured (median of the runs' ratios) | verdict |"
        print "| --- | --- | --- |"
        flat = ""; vs_tftp = ""; vs_floor = ""
        for (run in runs) {
            a = per_run[placement SUBSEP run SUBSEP "program" SUBSEP large]
            b = per_run[placement SUBSEP run SUBSEP "program" SUBSEP small]
            if (a != "" && b > 0) flat = flat " " a / b
            for (i = 1; i <= n; i++) {
                p = per_run[placement SUBSEP run SUBSEP "program" SUBSEP sorted[i]]
                t = per_run[placement SUBSEP run SUBSEP "tftpd-hpa" SUBSEP sorted[i]]
                f = per_run[placement SUBSEP run SUBSEP "floor" SUBSEP sorted[i]]
                if (t > 0) { tr[sorted[i]] = tr[sorted[i]] " " p / t }
                if (f > 0) { fr[sorted[i]] = fr[sorted[i]] " " p / f }
            }
        }
        if (flat != "") printf "| flat: per block at %s MiB / at %s MiB <= 1.2 | %.2f | %s |\n", large, small, median(flat), verdict(median(flat), 1.2)
        for (i = 1; i <= n; i++) {
            if (tr[sorted[i]] != "") printf "| %s MiB: TcpServer / tftpd-hpa <= 1.25 | %.2f | %s |\n", sorted[i], median(tr[sorted[i]]), verdict(median(tr[sorted[i]]), 1.25)
            if (fr[sorted[i]] != "") printf "| %s MiB: TcpServer / floor <= 2.0 | %.2f | %s |\n", sorted[i], median(fr[sorted[i]]), verdict(median(fr[sorted[i]]), 2.0)
            key = placement SUBSEP "program" SUBSEP sorted[i]
            limit = 2 * sorted[i] + 100
            printf "| %s MiB: peak RSS <= 2 x image + 100 MiB = %d MiB | %s MiB | %s |\n", sorted[i], limit, median(rss[key]), verdict(median(rss[key]), limit)
            delete tr[sorted[i]]; delete fr[sorted[i]]
        }
    }
}
