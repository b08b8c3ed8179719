"""Tavrosk on a Dask cluster: a folder of images warped by one pairs file, or
a long morph split into ranges of frames, each task on one worker.

    python3 tavrosk_dask.py warp IN_FOLDER PAIRS OUT_FOLDER [--scheduler ADDRESS]
    python3 tavrosk_dask.py morph FIRST SECOND PAIRS FRAMES PATTERN [--scheduler ADDRESS]

PATTERN names the frames with one %d (frame%04d.png). Without --scheduler
a cluster of local processes is started, one a core; with a scheduler's
address (tcp://host:8786) the same work goes to that cluster, whose workers
need tavrosk and OpenCV installed and the files at the same paths. Every
worker process warps on one thread (threads=1): the cluster already keeps
each core busy with a process of its own, and more threads than cores would
only take turns. Results are written as the file names say (PNG keeps every
bit; JPEG does not).
"""

import argparse
import os

import cv2
from dask.distributed import Client, LocalCluster

import tavrosk

IMAGE_NAMES = (".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".webp")


def warp_file(source, pairs, target):
    # OpenCV keeps B, G, R order; the warp treats every channel alike.
    image = cv2.imread(source, cv2.IMREAD_UNCHANGED)
    if image is None:
        raise ValueError(f"{source}: not an image OpenCV reads")
    if not cv2.imwrite(target, tavrosk.warp(image, pairs, threads=1)):
        raise OSError(f"{target}: cannot write")
    return target


def warp_folder(client, in_folder, pairs_file, out_folder):
    """Warps every image of in_folder into out_folder under the same name."""
    pairs = tavrosk.read_pairs(pairs_file)
    os.makedirs(out_folder, exist_ok=True)
    names = sorted(n for n in os.listdir(in_folder) if n.lower().endswith(IMAGE_NAMES))
    sources = [os.path.join(in_folder, n) for n in names]
    targets = [os.path.join(out_folder, n) for n in names]
    return client.gather(client.map(warp_file, sources, [pairs] * len(names), targets))


def morph_range(first_file, second_file, pairs, frames, start, stop, pattern):
    first = cv2.imread(first_file, cv2.IMREAD_UNCHANGED)
    second = cv2.imread(second_file, cv2.IMREAD_UNCHANGED)
    done = tavrosk.morph(first, second, pairs, frames=frames, start=start, stop=stop, threads=1)
    for i, frame in zip(range(start, stop), done):
        if not cv2.imwrite(pattern % i, frame):
            raise OSError(f"{pattern % i}: cannot write")
    return stop - start


def morph_frames(client, first_file, second_file, pairs_file, frames, pattern, per_task=10):
    """Writes the frames of a morph, per_task frames a task."""
    pairs = tavrosk.read_pairs(pairs_file)
    tasks = [client.submit(morph_range, first_file, second_file, pairs, frames, start,
                           min(start + per_task, frames), pattern)
             for start in range(0, frames, per_task)]
    return sum(client.gather(tasks))


def main():
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--scheduler", help="a Dask scheduler's address; default: local processes")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    jobs = parser.add_subparsers(dest="job", required=True)
    warp = jobs.add_parser("warp", parents=[common])
    for name in ["in_folder", "pairs", "out_folder"]:
        warp.add_argument(name)
    morph = jobs.add_parser("morph", parents=[common])
    for name in ["first", "second", "pairs", "frames", "pattern"]:
        morph.add_argument(name, type=int if name == "frames" else str)
    args = parser.parse_args()
    cluster = None if args.scheduler else LocalCluster(threads_per_worker=1)
    with Client(args.scheduler or cluster) as client:
        if args.job == "warp":
            print(len(warp_folder(client, args.in_folder, args.pairs, args.out_folder)), "images warped")
        else:
            print(morph_frames(client, args.first, args.second, args.pairs, args.frames, args.pattern),
                  "frames written")
    if cluster:
        cluster.close()


if __name__ == "__main__":
    main()
