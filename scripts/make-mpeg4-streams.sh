#!/bin/sh
# Makes the MPEG-4 conformance streams: FFmpeg's mpeg4 encoder (one thread,
# so no resync markers) on moving lavfi sources, re-serialised into the
# camera's narrow layout by the mpeg4_narrow tool.
#
#   make-mpeg4-streams.sh OUTDIR NARROW_TOOL [NAME...]
#
# Without names every stream is made. The small ones are committed under
# tests/codec/mpeg4_data; the conformance test makes the others at run time.
# "raw" streams keep FFmpeg's own headers (object layer identifier, control
# parameters, loaded matrices, group-of-VOP headers) for the wider syntax.
set -eu

out=$1
tool=$2
shift 2
mkdir -p "$out"

# name size source gop quant_type four_vectors frames qscale|aq [rate]
# l168_edge_mv4: testsrc's moving pattern crosses the partial macroblock column on the right,
# where the reference's extension shows; testsrc2's hardly reaches it.
streams='
s160_q0_g25      160x120 testsrc2   25  0 0 50  3
s160_q1_mv4_g250 160x120 mandelbrot 250 1 1 60  4
s320_q0_mv4_g25  320x240 testsrc2   25  0 1 40  4
s320_q1_g250     320x240 mandelbrot 250 1 0 40  5
l160_q0_g25      160x120 testsrc2   25  0 0 250 3
l160_q1_mv4_g25  160x120 testsrc2   25  1 1 250 4
l160_q0_mv4_g250 160x120 mandelbrot 250 0 1 250 3
l160_q1_g250     160x120 mandelbrot 250 1 0 250 4
l160_q0_g25_ntsc 160x120 testsrc2   25  0 0 250 3 30000/1001
l168_q0_mv4_g25  168x128 testsrc2   25  0 1 250 3
l168_edge_mv4    168x128 testsrc    25  0 1 250 3
l320_aq_g25      320x240 testsrc2   25  0 0 100 aq
l320_q1_mv4_aq   320x240 mandelbrot 25  1 1 100 aq
l320_q0_g250     320x240 testsrc2   250 0 0 250 3
l640_q0_mv4_g25  640x480 testsrc2   25  0 1 100 3
l640_q1_g250     640x480 mandelbrot 250 1 0 250 4
l640_q0_g250     640x480 testsrc2   250 0 0 250 4
l704_q0_mv4_g250 704x480 testsrc2   250 0 1 250 4
l704_q1_g25      704x480 mandelbrot 25  1 0 100 3
raw160_q1_matrix 160x120 testsrc2   250 1 0 20  4'

# A non-default matrix (row-major, as FFmpeg takes it) for the raw stream.
matrix=$(awk 'BEGIN { for (i = 0; i < 64; i++) printf "%s%d", (i ? "," : ""), 8 + i % 8 + int(i / 8) * 2 }')

want() {
    [ $# -eq 0 ] && return 0
    n=$1
    shift
    for w in "$@"; do [ "$w" = "$n" ] && return 0; done
    return 1
}

echo "$streams" | while read -r name size src gop qt mv4 frames q rate; do
    [ -n "$name" ] || continue
    want "$name" "$@" || continue
    codec_flags=""
    [ "$mv4" = 1 ] && codec_flags="+mv4"
    # The aq streams also predict intra AC coefficients, between macroblocks of other quantisers.
    [ "$q" = aq ] && codec_flags="$codec_flags+aic"
    flags=""
    [ -n "$codec_flags" ] && flags="-flags $codec_flags"
    case "$name" in raw*) flags="$flags -intra_matrix $matrix -inter_matrix $matrix" ;; esac
    # "aq": rate control with masking, so the quantiser changes from macroblock to macroblock.
    quality="-qscale:v $q"
    [ "$q" = aq ] && quality="-b:v 400k -lumi_mask 0.3 -dark_mask 0.3 -scplx_mask 0.3 -tcplx_mask 0.3 -p_mask 0.3"
    # Temporary names and a rename: tests running side by side may make the
    # same stream at once.
    tmp="$out/$name.raw.$$.m4v"
    # shellcheck disable=SC2086
    ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "$src=size=$size:rate=${rate:-25}" -frames:v "$frames" \
        -c:v mpeg4 -threads 1 -g "$gop" -bf 0 $quality -mpeg_quant "$qt" $flags \
        -f m4v "$tmp"
    case "$name" in
    raw*) mv "$tmp" "$out/$name.m4v" ;;
    *) "$tool" "$tmp" "$out/$name.$$.m4v" && rm -f "$tmp" && mv "$out/$name.$$.m4v" "$out/$name.m4v" ;;
    esac
done
