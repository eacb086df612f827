"""The same pipeline as lumaLeveller, as a user would write it with OpenCV.

    python3 pipeline.py IN OUT.png

Reads IN in colour, closes the brightness (V of HSV) with a 3x3 square
dilated 9 times and eroded 9 times, inverts the difference to the closing,
stretches it onto 0..255, and writes the recombined image as PNG.
"""
import sys

import cv2


def main(source, target):
    image = cv2.imread(source, cv2.IMREAD_COLOR)
    if image is None:
        sys.exit("could not read " + source)
    hue, saturation, value = cv2.split(cv2.cvtColor(image, cv2.COLOR_BGR2HSV))
    kernel = cv2.getStructuringElement(cv2.MORPH_RECT, (3, 3))
    dilated = cv2.morphologyEx(value, cv2.MORPH_DILATE, kernel, iterations=9, borderType=cv2.BORDER_CONSTANT)
    closed = cv2.morphologyEx(dilated, cv2.MORPH_ERODE, kernel, iterations=9, borderType=cv2.BORDER_CONSTANT)
    inverted = cv2.bitwise_not(cv2.subtract(closed, value))
    stretched = cv2.normalize(inverted, None, 0, 255, cv2.NORM_MINMAX)
    result = cv2.cvtColor(cv2.merge((hue, saturation, stretched)), cv2.COLOR_HSV2BGR)
    if not cv2.imwrite(target, result):
        sys.exit("could not write " + target)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: pipeline.py IN OUT.png")
    main(sys.argv[1], sys.argv[2])
